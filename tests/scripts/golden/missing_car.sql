-- error
[Nobody_Car]: no such car in Data_Car
