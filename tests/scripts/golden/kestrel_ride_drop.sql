-- names
Kestrel_GT
-- statements
UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.08, MinRideHeight = 0.03, MaxRideHeight = 0.13, MaxCompressHeight = 0.01 WHERE SpringDamperPhysicsID = 71;
-- undo
UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.1, MinRideHeight = 0.05, MaxRideHeight = 0.15, MaxCompressHeight = 0.03 WHERE SpringDamperPhysicsID = 71;
-- checks
SELECT DefRideHeight FROM List_SpringDamperPhysics WHERE SpringDamperPhysicsID = 71; -- want 0.08
