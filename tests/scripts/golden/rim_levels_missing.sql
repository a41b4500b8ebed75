-- error
[Kestrel_GT]: no stock-DB List_UpgradeRimSizeRear level 3 to re-size
