-- The shared history ETC_DATA on a PostgreSQL server (the [DATABASE] section
-- of the settings file). The staging table ETC_TEMP stays in each PC's own
-- history file. Same 28 columns as there; the Japanese names are quoted so
-- that they keep their exact spelling. Texts compare and sort by their
-- characters' codes (collation "C"), as in the local file.
-- Three columns of the server's own follow the 28: ROW_ID numbers the rows
-- (ordering ties, paging the grid), SOURCE_PC and SOURCE_ROW name the local
-- history row a copied row came from, so that a copy never adds a row twice.
-- The program runs this script every time it connects; every statement must
-- be safe to repeat.

SET client_min_messages = warning;

CREATE TABLE IF NOT EXISTS ETC_DATA (
    ITC_IN        TEXT COLLATE "C",
    ITC_IN_ROAD   TEXT COLLATE "C",
    ITC_IN_GATE   TEXT COLLATE "C",
    JID_IN        INTEGER,
    JID_IN_NAME   TEXT COLLATE "C",
    ITC_OUT       TEXT COLLATE "C",
    ITC_OUT_ROAD  TEXT COLLATE "C",
    ITC_OUT_GATE  TEXT COLLATE "C",
    JID_OUT       INTEGER,
    JID_OUT_NAME  TEXT COLLATE "C",
    REG_DATE      TEXT COLLATE "C",
    REG_TIME      TEXT COLLATE "C",
    CARD_ID       TEXT COLLATE "C",
    PASS_DATE     TEXT COLLATE "C",
    PASS_TIME     TEXT COLLATE "C",
    DATE_TIME     TEXT COLLATE "C",
    CAR_CODE      INTEGER,
    CAR_NAME      TEXT COLLATE "C",
    PASS_MONEY    INTEGER,
    PASS_UNIT     TEXT COLLATE "C",
    PRINT_FLAG    BOOLEAN NOT NULL DEFAULT FALSE,
    "カードNO"    TEXT COLLATE "C",
    "ご利用日"    TEXT COLLATE "C",
    "通過時間"    TEXT COLLATE "C",
    "通行料金"    TEXT COLLATE "C",
    "車種"        TEXT COLLATE "C",
    "入口料金所"  TEXT COLLATE "C",
    "出口料金所"  TEXT COLLATE "C",
    ROW_ID        BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    SOURCE_PC     TEXT,
    SOURCE_ROW    BIGINT,
    UNIQUE (SOURCE_PC, SOURCE_ROW)
);

CREATE INDEX IF NOT EXISTS ETC_DATA_PASSAGE
    ON ETC_DATA ("ご利用日", "通過時間", "通行料金", "車種", "入口料金所", "出口料金所");
CREATE INDEX IF NOT EXISTS ETC_DATA_CARD ON ETC_DATA ("カードNO", DATE_TIME);
CREATE INDEX IF NOT EXISTS ETC_DATA_DATE_TIME ON ETC_DATA (DATE_TIME);
CREATE INDEX IF NOT EXISTS ETC_DATA_CARD_ID ON ETC_DATA (CARD_ID);
CREATE INDEX IF NOT EXISTS ETC_DATA_VIEW_NEW ON ETC_DATA
    ("カードNO" NULLS FIRST, "ご利用日" DESC NULLS LAST, "通過時間" DESC NULLS LAST,
     "入口料金所" NULLS FIRST, "出口料金所" NULLS FIRST, ROW_ID);
CREATE INDEX IF NOT EXISTS ETC_DATA_VIEW_OLD ON ETC_DATA
    ("カードNO" NULLS FIRST, "ご利用日" NULLS FIRST, "通過時間" NULLS FIRST,
     "入口料金所" NULLS FIRST, "出口料金所" NULLS FIRST, ROW_ID);
CREATE INDEX IF NOT EXISTS ETC_DATA_TOTALS ON ETC_DATA ("カードNO", "通行料金", DATE_TIME);
