-- names
Lumen_Roadster_12
-- statements
UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.130000006, MinRideHeight = 0.0899999994, MaxRideHeight = 0.1699999976, MaxCompressHeight = 0.01500000015 WHERE SpringDamperPhysicsID = 121;
UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.09999999732, MinRideHeight = 0.07000000358, MaxRideHeight = 0.130000006, MaxCompressHeight = 0.005000000373 WHERE SpringDamperPhysicsID = 123;
UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.1699999964, MinRideHeight = 0.1299999973, MaxRideHeight = 0.210000003, MaxCompressHeight = 0.04500000015 WHERE SpringDamperPhysicsID = 122;
UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.1399999952, MinRideHeight = 0.1100000015, MaxRideHeight = 0.1699999964, MaxCompressHeight = 0.03999999933 WHERE SpringDamperPhysicsID = 124;
-- undo
UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.15000000596046448, MinRideHeight = 0.10999999940395355, MaxRideHeight = 0.1899999976158142, MaxCompressHeight = 0.03500000014901161 WHERE SpringDamperPhysicsID = 121;
UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.11999999731779099, MinRideHeight = 0.09000000357627869, MaxRideHeight = 0.15000000596046448, MaxCompressHeight = 0.02500000037252903 WHERE SpringDamperPhysicsID = 123;
UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.1599999964237213, MinRideHeight = 0.11999999731779099, MaxRideHeight = 0.20000000298023224, MaxCompressHeight = 0.03500000014901161 WHERE SpringDamperPhysicsID = 122;
UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.12999999523162842, MinRideHeight = 0.10000000149011612, MaxRideHeight = 0.1599999964237213, MaxCompressHeight = 0.029999999329447746 WHERE SpringDamperPhysicsID = 124;
-- checks
SELECT DefRideHeight FROM List_SpringDamperPhysics WHERE SpringDamperPhysicsID = 121; -- want 0.130000006
SELECT DefRideHeight FROM List_SpringDamperPhysics WHERE SpringDamperPhysicsID = 123; -- want 0.09999999732
SELECT DefRideHeight FROM List_SpringDamperPhysics WHERE SpringDamperPhysicsID = 122; -- want 0.1699999964
SELECT DefRideHeight FROM List_SpringDamperPhysics WHERE SpringDamperPhysicsID = 124; -- want 0.1399999952
