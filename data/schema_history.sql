-- History database (ETC_DAT): the registered usage history ETC_DATA and the
-- staging table ETC_TEMP that holds the records of the last card read.
-- Both tables have the same 28 columns; ETC_DATA adds ROW_UID, the row's
-- identity from the time it was registered (a random 128-bit number in
-- hexadecimal; rows of a file from before get theirs at the first open). Text columns compare without regard
-- to letter case, as the statements of the program expect.
-- The program runs this script every time it opens the history database, so
-- every statement must be safe to repeat.

CREATE TABLE IF NOT EXISTS ETC_DATA (
    ITC_IN        TEXT COLLATE NOCASE,
    ITC_IN_ROAD   TEXT COLLATE NOCASE,
    ITC_IN_GATE   TEXT COLLATE NOCASE,
    JID_IN        INTEGER,
    JID_IN_NAME   TEXT COLLATE NOCASE,
    ITC_OUT       TEXT COLLATE NOCASE,
    ITC_OUT_ROAD  TEXT COLLATE NOCASE,
    ITC_OUT_GATE  TEXT COLLATE NOCASE,
    JID_OUT       INTEGER,
    JID_OUT_NAME  TEXT COLLATE NOCASE,
    REG_DATE      TEXT COLLATE NOCASE,
    REG_TIME      TEXT COLLATE NOCASE,
    CARD_ID       TEXT COLLATE NOCASE,
    PASS_DATE     TEXT COLLATE NOCASE,
    PASS_TIME     TEXT COLLATE NOCASE,
    DATE_TIME     TEXT COLLATE NOCASE,
    CAR_CODE      INTEGER,
    CAR_NAME      TEXT COLLATE NOCASE,
    PASS_MONEY    INTEGER,
    PASS_UNIT     TEXT COLLATE NOCASE,
    PRINT_FLAG    INTEGER NOT NULL DEFAULT 0,
    カードNO      TEXT COLLATE NOCASE,
    ご利用日      TEXT COLLATE NOCASE,
    通過時間      TEXT COLLATE NOCASE,
    通行料金      TEXT COLLATE NOCASE,
    車種          TEXT COLLATE NOCASE,
    入口料金所    TEXT COLLATE NOCASE,
    出口料金所    TEXT COLLATE NOCASE,
    ROW_UID       TEXT
);

CREATE TABLE IF NOT EXISTS ETC_TEMP (
    ITC_IN        TEXT COLLATE NOCASE,
    ITC_IN_ROAD   TEXT COLLATE NOCASE,
    ITC_IN_GATE   TEXT COLLATE NOCASE,
    JID_IN        INTEGER,
    JID_IN_NAME   TEXT COLLATE NOCASE,
    ITC_OUT       TEXT COLLATE NOCASE,
    ITC_OUT_ROAD  TEXT COLLATE NOCASE,
    ITC_OUT_GATE  TEXT COLLATE NOCASE,
    JID_OUT       INTEGER,
    JID_OUT_NAME  TEXT COLLATE NOCASE,
    REG_DATE      TEXT COLLATE NOCASE,
    REG_TIME      TEXT COLLATE NOCASE,
    CARD_ID       TEXT COLLATE NOCASE,
    PASS_DATE     TEXT COLLATE NOCASE,
    PASS_TIME     TEXT COLLATE NOCASE,
    DATE_TIME     TEXT COLLATE NOCASE,
    CAR_CODE      INTEGER,
    CAR_NAME      TEXT COLLATE NOCASE,
    PASS_MONEY    INTEGER,
    PASS_UNIT     TEXT COLLATE NOCASE,
    PRINT_FLAG    INTEGER NOT NULL DEFAULT 0,
    カードNO      TEXT COLLATE NOCASE,
    ご利用日      TEXT COLLATE NOCASE,
    通過時間      TEXT COLLATE NOCASE,
    通行料金      TEXT COLLATE NOCASE,
    車種          TEXT COLLATE NOCASE,
    入口料金所    TEXT COLLATE NOCASE,
    出口料金所    TEXT COLLATE NOCASE
);

-- The rows DB削除 and 重複レコード削除 removed, kept for a while ([PASSLOG]
-- DeletedKeepDays, 30 days unless set) so that a deletion can be undone
-- whole: the row's columns and identity, then which deletion took it (an id,
-- the time as "yyyy/MM/dd HH:mm:ss", the PC and the user). DELETED_ROW keeps
-- the order they were deleted in.
CREATE TABLE IF NOT EXISTS ETC_DELETED (
    ITC_IN        TEXT COLLATE NOCASE,
    ITC_IN_ROAD   TEXT COLLATE NOCASE,
    ITC_IN_GATE   TEXT COLLATE NOCASE,
    JID_IN        INTEGER,
    JID_IN_NAME   TEXT COLLATE NOCASE,
    ITC_OUT       TEXT COLLATE NOCASE,
    ITC_OUT_ROAD  TEXT COLLATE NOCASE,
    ITC_OUT_GATE  TEXT COLLATE NOCASE,
    JID_OUT       INTEGER,
    JID_OUT_NAME  TEXT COLLATE NOCASE,
    REG_DATE      TEXT COLLATE NOCASE,
    REG_TIME      TEXT COLLATE NOCASE,
    CARD_ID       TEXT COLLATE NOCASE,
    PASS_DATE     TEXT COLLATE NOCASE,
    PASS_TIME     TEXT COLLATE NOCASE,
    DATE_TIME     TEXT COLLATE NOCASE,
    CAR_CODE      INTEGER,
    CAR_NAME      TEXT COLLATE NOCASE,
    PASS_MONEY    INTEGER,
    PASS_UNIT     TEXT COLLATE NOCASE,
    PRINT_FLAG    INTEGER NOT NULL DEFAULT 0,
    カードNO      TEXT COLLATE NOCASE,
    ご利用日      TEXT COLLATE NOCASE,
    通過時間      TEXT COLLATE NOCASE,
    通行料金      TEXT COLLATE NOCASE,
    車種          TEXT COLLATE NOCASE,
    入口料金所    TEXT COLLATE NOCASE,
    出口料金所    TEXT COLLATE NOCASE,
    ROW_UID       TEXT,
    DELETE_ID     TEXT NOT NULL,
    DELETED_AT    TEXT NOT NULL,
    DELETED_PC    TEXT,
    DELETED_USER  TEXT,
    DELETED_ROW   INTEGER PRIMARY KEY
);
CREATE INDEX IF NOT EXISTS ETC_DELETED_ID ON ETC_DELETED (DELETE_ID, DELETED_ROW);
CREATE INDEX IF NOT EXISTS ETC_DELETED_AT ON ETC_DELETED (DELETED_AT);

-- The duplicate rule groups by these six display columns over the whole table.
CREATE INDEX IF NOT EXISTS ETC_DATA_PASSAGE
    ON ETC_DATA (ご利用日, 通過時間, 通行料金, 車種, 入口料金所, 出口料金所);
-- History reads, deletes and exports by card number and date/time range.
CREATE INDEX IF NOT EXISTS ETC_DATA_CARD ON ETC_DATA (カードNO, DATE_TIME);
CREATE INDEX IF NOT EXISTS ETC_DATA_DATE_TIME ON ETC_DATA (DATE_TIME);
-- The card-number list (SELECT DISTINCT CARD_ID ... ORDER BY CARD_ID).
CREATE INDEX IF NOT EXISTS ETC_DATA_CARD_ID ON ETC_DATA (CARD_ID);
-- The history grid reads its rows a page at a time in the order of the read
-- statement (card, date and time newest or oldest first, gates): one index
-- for each date order, so that any page is found without sorting the rows
-- before it.
CREATE INDEX IF NOT EXISTS ETC_DATA_VIEW_NEW
    ON ETC_DATA (カードNO, ご利用日 DESC, 通過時間 DESC, 入口料金所, 出口料金所);
CREATE INDEX IF NOT EXISTS ETC_DATA_VIEW_OLD
    ON ETC_DATA (カードNO, ご利用日, 通過時間, 入口料金所, 出口料金所);
-- The grid's count and toll sum, per toll text, from the index alone.
CREATE INDEX IF NOT EXISTS ETC_DATA_TOTALS ON ETC_DATA (カードNO, 通行料金, DATE_TIME);
-- 月別集計: rows per card, month of the passage and toll text, in the order
-- the totals group them and from the index alone, also within a date range.
CREATE INDEX IF NOT EXISTS ETC_DATA_MONTHS ON ETC_DATA (カードNO, SUBSTR(DATE_TIME, 1, 7), 通行料金, DATE_TIME);
