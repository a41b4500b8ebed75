-- error
[Kestrel_GT]: ride_drop_front 0.050 puts the travel floor at -0.020 m (min 0.000) - max drop 0.030
