-- names
Pica_Sport
Kestrel_GT
-- statements
UPDATE List_UpgradeTireCompound SET TireModelName = 'Vintage_WhiteWall', WetTireModelName = 'Vintage_WhiteWall' WHERE Id = 5121;
INSERT OR IGNORE INTO List_UpgradeCarBodyHood (Id,CarBodyID,Level,IsStock,Sequence,ManufacturerId,PartsStringId,MassDiff,WeightDistDiff,DragScale,WindInstabilityScale,Price,RequiresGraphics,releaseOrder) VALUES (7001,7000,1,0,2,86,109,0.0,0.0,1.0,1.0,1000,1,0);
INSERT OR IGNORE INTO List_UpgradeCarBodyHood (Id,CarBodyID,Level,IsStock,Sequence,ManufacturerId,PartsStringId,MassDiff,WeightDistDiff,DragScale,WindInstabilityScale,Price,RequiresGraphics,releaseOrder) VALUES (7002,7000,1,0,3,86,109,0.0,0.0,1.0,1.0,1000,1,0);
-- undo
UPDATE List_UpgradeTireCompound SET TireModelName = 'Sport_A', WetTireModelName = 'Sport_A_Wet' WHERE Id = 5121;
DELETE FROM List_UpgradeCarBodyHood WHERE Id = 7001;
DELETE FROM List_UpgradeCarBodyHood WHERE Id = 7002;
-- checks
SELECT COUNT(*) FROM List_UpgradeTireCompound WHERE TireModelName = 'Vintage_WhiteWall' AND Id = 5121; -- want 1.0
SELECT COUNT(*) FROM List_UpgradeCarBodyHood WHERE Id = 7001; -- want 1.0
SELECT COUNT(*) FROM List_UpgradeCarBodyHood WHERE Id = 7002; -- want 1.0
