-- The shared history ETC_DATA on a PostgreSQL server (the [DATABASE] section
-- of the settings file). The staging table ETC_TEMP stays in each PC's own
-- history file. Same 28 columns as there; the Japanese names are quoted so
-- that they keep their exact spelling. Texts compare and sort by their
-- characters' codes (collation "C"), as in the local file.
-- Columns of the server's own follow the 28: ROW_ID numbers the rows
-- (ordering ties, paging the grid); ROW_UID is the row's identity, given when
-- it was first stored (on the server, or in a PC's history file from which it
-- was copied), so that a copy never adds a row twice; SOURCE_PC and
-- SOURCE_ROW name the file and row a row copied before identities came from.
-- The tables live in the schema public, named so in every statement here,
-- whatever the owner's search_path (a schema of the owner's own name comes
-- first in the default one); the program's connections use public alone.
-- "passlog server init" runs this script, as the database's owner, in one
-- transaction; every statement must be safe to repeat. Day to day the
-- program only checks the table's columns and types (it may not create).
-- A column added here belongs in the program's list of the table's columns
-- (kServerColumns in src/history/Database.cpp) as well.

SET client_min_messages = warning;

CREATE TABLE IF NOT EXISTS public.ETC_DATA (
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
    ROW_UID       TEXT NOT NULL DEFAULT gen_random_uuid()::text
);

-- A table from before row identities: every row gets one (a copied row the
-- name its file gave it, which that file takes over as well), and the copy no
-- longer goes by file and row number.
DO $$
BEGIN
    IF NOT EXISTS (SELECT 1 FROM information_schema.columns
                   WHERE table_schema = 'public' AND table_name = 'etc_data'
                     AND column_name = 'row_uid') THEN
        ALTER TABLE public.ETC_DATA ADD COLUMN ROW_UID TEXT;
        UPDATE public.ETC_DATA SET ROW_UID = COALESCE(SOURCE_PC || ':' || SOURCE_ROW, gen_random_uuid()::text);
        ALTER TABLE public.ETC_DATA ALTER COLUMN ROW_UID SET DEFAULT gen_random_uuid()::text;
        ALTER TABLE public.ETC_DATA ALTER COLUMN ROW_UID SET NOT NULL;
        ALTER TABLE public.ETC_DATA DROP CONSTRAINT IF EXISTS etc_data_source_pc_source_row_key;
    END IF;
END
$$;
CREATE UNIQUE INDEX IF NOT EXISTS ETC_DATA_ROW_UID ON public.ETC_DATA (ROW_UID);

CREATE INDEX IF NOT EXISTS ETC_DATA_PASSAGE
    ON public.ETC_DATA ("ご利用日", "通過時間", "通行料金", "車種", "入口料金所", "出口料金所");
CREATE INDEX IF NOT EXISTS ETC_DATA_CARD ON public.ETC_DATA ("カードNO", DATE_TIME);
CREATE INDEX IF NOT EXISTS ETC_DATA_DATE_TIME ON public.ETC_DATA (DATE_TIME);
CREATE INDEX IF NOT EXISTS ETC_DATA_CARD_ID ON public.ETC_DATA (CARD_ID);
CREATE INDEX IF NOT EXISTS ETC_DATA_VIEW_NEW ON public.ETC_DATA
    ("カードNO" NULLS FIRST, "ご利用日" DESC NULLS LAST, "通過時間" DESC NULLS LAST,
     "入口料金所" NULLS FIRST, "出口料金所" NULLS FIRST, ROW_ID);
CREATE INDEX IF NOT EXISTS ETC_DATA_VIEW_OLD ON public.ETC_DATA
    ("カードNO" NULLS FIRST, "ご利用日" NULLS FIRST, "通過時間" NULLS FIRST,
     "入口料金所" NULLS FIRST, "出口料金所" NULLS FIRST, ROW_ID);
-- CSV取込 looks up the passages of its files by card, PASS_DATE and PASS_TIME
-- (the date and time a CSV line holds): rows whose DATE_TIME disagrees with
-- them (stored by older versions or other tools) are found all the same.
CREATE INDEX IF NOT EXISTS ETC_DATA_PASSED ON public.ETC_DATA ("カードNO", PASS_DATE, PASS_TIME);
CREATE INDEX IF NOT EXISTS ETC_DATA_TOTALS ON public.ETC_DATA ("カードNO", "通行料金", DATE_TIME);
-- 月別集計: rows per card, month of the passage and toll text, from the index alone.
CREATE INDEX IF NOT EXISTS ETC_DATA_MONTHS ON public.ETC_DATA ("カードNO", (SUBSTR(DATE_TIME, 1, 7)), "通行料金", DATE_TIME);

-- The rows DB削除 and 重複レコード削除 removed, kept for a while so that a
-- deletion can be undone whole (see data/schema_history.sql): the row's
-- columns, its identity and the names of a copied row, then which deletion
-- took it. DELETED_AT is the deleting PC's clock (shown in the list);
-- DELETED_ON_SERVER the server's, so that a PC whose clock is wrong cannot
-- make a deletion expire early: it goes once both say it is past its keep
-- time. A server set up before gets the table at the next init. Its columns
-- belong in kDeletedColumns in src/history/Database.cpp as well.
CREATE TABLE IF NOT EXISTS public.ETC_DELETED (
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
    "出口料金所"  TEXT COLLATE "C",    ROW_UID       TEXT NOT NULL,
    SOURCE_PC     TEXT,
    SOURCE_ROW    BIGINT,
    DELETE_ID     TEXT NOT NULL,
    DELETED_AT    TEXT NOT NULL,
    DELETED_PC    TEXT,
    DELETED_USER  TEXT,
    DELETED_ROW   BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    DELETED_ON_SERVER TIMESTAMPTZ NOT NULL DEFAULT now()
);
CREATE INDEX IF NOT EXISTS ETC_DELETED_ID ON public.ETC_DELETED (DELETE_ID, DELETED_ROW);
CREATE INDEX IF NOT EXISTS ETC_DELETED_AT ON public.ETC_DELETED (DELETED_AT);
