-- names
Kestrel_GT
-- statements
INSERT OR IGNORE INTO List_UpgradeRimSizeFront (Id,Ordinal,Level,IsStock,FrontWheelDiameter,Price,MassDiff,DragScale,WindInstabilityScale,RequiresGraphics) VALUES (7004,7,4,0,18,2000,1.36,1.0,1.0,0);
INSERT OR IGNORE INTO List_UpgradeRimSizeFront (Id,Ordinal,Level,IsStock,FrontWheelDiameter,Price,MassDiff,DragScale,WindInstabilityScale,RequiresGraphics) VALUES (7005,7,5,0,19,2200,2.72,1.0,1.0,0);
-- undo
DELETE FROM List_UpgradeRimSizeFront WHERE Id = 7004;
DELETE FROM List_UpgradeRimSizeFront WHERE Id = 7005;
-- checks
SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id = 7004; -- want 1.0
SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id = 7005; -- want 1.0
