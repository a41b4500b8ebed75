-- error
[Kestrel_GT]: rim_sizes is not a number list
