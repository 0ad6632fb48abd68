// Start-up benchmark: the real program, started offscreen until its main
// window is shown and ended normally, on an empty history and on one of
// 1,000,000 rows (about 800 MB), alternating, five times each after a first
// start of both. A start must not read the history: the ratio of the two
// medians is the headline.
//
// Prints "name: value" lines, times in seconds. Exits 1 when a start fails or
// does not end cleanly.

#include "../tools/reader-emulator/EmulatorProcess.h"
#include "BenchSupport.h"
#include "history/Registration.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <algorithm>

namespace {

QTextStream out(stdout);

void print(const QString &name, const QString &value) {
  out << name << ": " << value << Qt::endl;
}

// A program folder: the program, its masters and a history of rows rows,
// closed cleanly as the program leaves it.
void makeFolder(const QTemporaryDir &dir, qint64 rows, const QString &reader) {
  for (const char *file : {"passlog", "ETC_MST.sqlite"})
    if (!QFile::copy(QStringLiteral(PASSLOG_BINARY_DIR "/") + file,
                     dir.filePath(file)))
      qFatal("cannot copy %s", file);
  QFile::setPermissions(dir.filePath("passlog"),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  auto write = [&](const char *name, const QByteArray &text) {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
      qFatal("cannot write %s", name);
  };
  // The reader emulator behind the port, no card in it; a screen the window
  // fits on.
  write("passlog.ini",
        "[RS232C]\r\nComPort=1\r\nDevice1=" + reader.toUtf8() + "\r\n");
  write(
      "screen.json",
      R"({"screens": [{"name": "s", "x": 0, "y": 0, "width": 1280, "height": 1024, "logicalDpi": 96}]})");
  openBenchHistory(dir);
  {
    QSqlDatabase db = history::database(DbConnection::History);
    QSqlQuery q(db);
    // The rows first, the indexes after them (sorted once, not row by row).
    QStringList indexes;
    q.exec("SELECT name FROM sqlite_master WHERE type='index' AND "
           "tbl_name='ETC_DATA' AND sql IS NOT NULL");
    while (q.next())
      indexes << q.value(0).toString();
    for (const QString &index : indexes)
      q.exec("DROP INDEX " + index);
    const QString sql = QStringLiteral(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE "
        "i<%1), "
        "t(i,card,d,tm,money) AS (SELECT i, printf('%04d', 1000 + i%50), "
        "strftime('%Y/%m/%d', 1420070400 + i*97, 'unixepoch'), "
        "strftime('%H:%M:%S', 1420070400 + i*97, 'unixepoch'), "
        "100*(1+(i*7919)%40) FROM n) "
        "INSERT INTO ETC_DATA "
        "(ITC_IN,ITC_IN_ROAD,ITC_IN_GATE,JID_IN,JID_IN_NAME,ITC_OUT,ITC_OUT_"
        "ROAD,ITC_OUT_GATE,"
        "JID_OUT,JID_OUT_NAME,REG_DATE,REG_TIME,CARD_ID,PASS_DATE,PASS_TIME,"
        "DATE_TIME,CAR_CODE,CAR_NAME,"
        "PASS_MONEY,PASS_UNIT,カードNO,ご利用日,通過時間,通行料金,車種,"
        "入口料金所,出口料金所,ROW_UID) "
        "SELECT "
        "'01001','東名高速道路','東京',69,'東京','01005','東名高速道路','厚木',"
        "102,'厚木',d,tm,card,d,tm,"
        "d||'-'||tm,1,'普通車',money,'円',card,d,tm,money||'円','普通車','"
        "東名高速道路 東京','東名高速道路 厚木',"
        "lower(hex(randomblob(16))) FROM t");
    if (rows > 0 && !q.exec(sql.arg(rows)))
      qFatal("fill failed: %s", qPrintable(q.lastError().text()));
    q.finish();
    history::runScript(db, history::historySchemaSql());
    history::ensureRowIdentity(db);
  }
  history::closeDatabase(kDatFile);
}

// One start to the shown window and a normal end, in seconds.
double start(const QTemporaryDir &dir) {
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM",
             "offscreen:configfile=" + dir.filePath("screen.json"));
  env.insert("PASSLOG_QUIT_WHEN_SHOWN", "1");
  env.insert("XDG_RUNTIME_DIR", dir.path()); // the lock of each folder's own
  program.setProcessEnvironment(env);
  program.setProcessChannelMode(QProcess::MergedChannels);
  QElapsedTimer t;
  t.start();
  program.start(dir.filePath("passlog"), {});
  if (!program.waitForFinished(120000) ||
      program.exitStatus() != QProcess::NormalExit || program.exitCode() != 0)
    qFatal("start failed (%d): %s", program.exitCode(),
           program.readAll().constData());
  const double seconds = t.nsecsElapsed() / 1e9;
  if (QFile::exists(dir.filePath("ETC_DAT.sqlite-wal")))
    qFatal("the program did not end cleanly");
  return seconds;
}

double median(QList<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir empty, large;
  EmulatorProcess reader({QStringLiteral("--state"), QStringLiteral("none")});
  if (!reader.started())
    qFatal("the reader emulator did not start");
  QElapsedTimer t;
  t.start();
  makeFolder(empty, 0, reader.link());
  makeFolder(large, 1000000, reader.link());
  print("fill_1m_s", QString::number(t.elapsed() / 1000.0, 'f', 1));
  print("history_1m_bytes",
        QString::number(QFileInfo(large.filePath("ETC_DAT.sqlite")).size()));
  start(empty);
  start(large); // first starts: settings files written
  QList<double> emptyTimes, largeTimes;
  for (int i = 0; i < 5; ++i) {
    emptyTimes << start(empty);
    largeTimes << start(large);
  }
  const double e = median(emptyTimes), l = median(largeTimes);
  print("startup_empty_s", QString::number(e, 'f', 3));
  print("startup_1m_s", QString::number(l, 'f', 3));
  print("ratio", QString::number(l / e, 'f', 2));
  return 0;
}
