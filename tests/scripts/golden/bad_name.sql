-- error
[Kestrel GT]: bad car name
