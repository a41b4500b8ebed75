-- error
[Kestrel_GT]: rim_stock is not supported yet
