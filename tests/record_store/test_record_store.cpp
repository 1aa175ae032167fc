#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "record_store/ConnectDatabase.h"
#include "record_store/DatabaseError.h"
#include "record_store/Engine.h"
#include "record_store/Formats.h"
#include "support/StoreFixtures.h"

// A behaviour of the database file itself (SQLite); the server has its own tests below.
#define FILE_ONLY() \
    if (TestEngine::Postgres()) QSKIP("a database file's own behaviour: SQLite only")

class RecordStoreTest : public QObject {
    Q_OBJECT

    static QString conversionText(const std::function<void()>& f) {
        try {
            f();
        } catch (const ConversionError& e) {
            return e.text();
        }
        return QStringLiteral("<no error>");
    }

  private slots:
    CAFE_ENGINE_ROWS
    void decimalText() {
        QCOMPARE(DecimalText(2.7), QStringLiteral("2.7"));
        QCOMPARE(DecimalText(3.0), QStringLiteral("3"));
        QCOMPARE(DecimalText(0.1 + 0.2), QStringLiteral("0.3"));  // 15 digits hide the noise
        QCOMPARE(DecimalText(2.0 + 1.5), QStringLiteral("3.5"));
        QCOMPARE(DecimalText(-1.0 + 1.0), QStringLiteral("0"));
        QCOMPARE(DecimalText(-0.0), QStringLiteral("0"));
        QCOMPARE(DecimalText(1234567.25), QStringLiteral("1234567.25"));
    }

    void decimalParserAcceptsOnlyNumbers() {
        QCOMPARE(ParseDecimal(QStringLiteral("2.7")), 2.7);
        QCOMPARE(ParseDecimal(QStringLiteral("3")), 3.0);
        QCOMPARE(ParseDecimal(QStringLiteral("0.3")), 0.3);
        QCOMPARE(ParseDecimal(QStringLiteral(" 1.5 ")), 1.5);
        QCOMPARE(ParseDecimal(QStringLiteral("-1")), -1.0);
        QCOMPARE(ParseDecimal(QStringLiteral(".5")), 0.5);
        QCOMPARE(ParseDecimal(QStringLiteral("1e2")), 100.0);
        QCOMPARE(ParseDecimal(QStringLiteral("+2.5E-1")), 0.25);
        QCOMPARE(ParseDecimal(QStringLiteral("5.")), 5.0);
        QCOMPARE(ParseDecimal(QStringLiteral("\t-0.3")), -0.3);
        for (const char* bad : {"abc",   "",  " ",     "inf",   "nan",  "1,5",   "1.5元",   "0x10",
                                "1 000", "+", "1e999", "2.7元", "1e",   "e5",    "1e+",     "+-1",
                                "1.2.3", ".", "-.",    "١",     "1 .5", "0x1p3", "infinity"}) {
            const QString text = QString::fromUtf8(bad);
            QCOMPARE(conversionText([&] { ParseDecimal(text); }),
                     QStringLiteral("'%1' is not a valid floating point value").arg(text));
        }
    }

    void typedAmountsAreReadExactly_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("check");
        QTest::addColumn<qint64>("cents");
        const int ok = TypedAmount::Ok, decimals = TypedAmount::TooManyDecimals,
                  large = TypedAmount::TooLarge, nan = TypedAmount::NotANumber;
        QTest::newRow("whole") << "5" << ok << qint64(500);
        QTest::newRow("two decimals") << "2.55" << ok << qint64(255);
        QTest::newRow("trailing zeros") << "2.500" << ok << qint64(250);
        QTest::newRow("three decimals") << "2.555" << decimals << qint64(0);
        QTest::newRow("negative") << " -1.5 " << ok << qint64(-150);
        QTest::newRow("exponent") << "1e-2" << ok << qint64(1);
        QTest::newRow("exponent too fine") << "1e-3" << decimals << qint64(0);
        QTest::newRow("point first") << ".5" << ok << qint64(50);
        QTest::newRow("zero with decimals") << "0.000" << ok << qint64(0);
        QTest::newRow("the limit") << "100000" << ok << qint64(10000000);
        QTest::newRow("past the limit") << "100000.01" << large << qint64(0);
        QTest::newRow("below the limit") << "-100000.01" << large << qint64(0);
        QTest::newRow("huge") << "-1e300" << large << qint64(0);
        QTest::newRow("many digits") << "99999999999999999999" << large << qint64(0);
        QTest::newRow("not a number") << "abc" << nan << qint64(0);
        QTest::newRow("empty") << "" << nan << qint64(0);
        QTest::newRow("with the unit") << "3元" << nan << qint64(0);
    }
    void typedAmountsAreReadExactly() {
        QFETCH(QString, text);
        QFETCH(int, check);
        QFETCH(qint64, cents);
        const TypedAmount amount = ReadTypedAmount(text, 100000 * 100);
        QCOMPARE(int(amount.check), check);
        QCOMPARE(amount.cents, cents);
    }

    void decimalGrammar() {
        for (const char* bad :
             {"1e+-5", "8E++50", "1e--5", "--1", "1e5e5", "1.5e+", "inf", "nan", "1e400", "-1e400"})
            QVERIFY_THROWS_EXCEPTION(ConversionError, ParseDecimal(QString::fromLatin1(bad)));
        // Too small to hold: the nearest double, as for a subnormal.
        QCOMPARE(ParseDecimal(QStringLiteral("1e-400")), 0.0);
        QCOMPARE(ParseDecimal(QStringLiteral("-0.0001e-400")), 0.0);
        QVERIFY(ParseDecimal(QStringLiteral("1e-320")) > 0.0);
        QCOMPARE(ParseDecimal(QStringLiteral("0e999999")), 0.0);
        QCOMPARE(ParseDecimal(QStringLiteral("1e-5")), 1e-5);
        QCOMPARE(ParseDecimal(QStringLiteral("+1e+5")), 1e5);
    }

    void timeTexts() {
        QCOMPARE(ClockText(QTime(9, 5, 7)), QStringLiteral("9:5:7"));
        QCOMPARE(ClockText(QTime(14, 30, 0)), QStringLiteral("14:30:0"));
        QCOMPARE(ClockText(QTime(0, 0, 5)), QStringLiteral("0:0:5"));
        QCOMPARE(LongTimeText(QTime(9, 5, 7)), QStringLiteral("9:05:07"));
        QCOMPARE(LongTimeText(QTime(23, 59, 0)), QStringLiteral("23:59:00"));
    }

    void dateTimeParser() {
        QCOMPARE(ParseDateTime(QStringLiteral("9:5:7")), QTime(9, 5, 7));
        QCOMPARE(ParseDateTime(QStringLiteral("09:05")), QTime(9, 5));
        QCOMPARE(ParseDateTime(QStringLiteral("23:50:01")), QTime(23, 50, 1));
        QCOMPARE(ParseDateTime(QStringLiteral("2026-12-09 0:05:00")), QTime(0, 5));
        QCOMPARE(ParseDateTime(QStringLiteral("2026/12/9 14:30:0")), QTime(14, 30));
        QCOMPARE(ParseDateTime(QStringLiteral(" 10:5:7.123 ")), QTime(10, 5, 7, 123));
        QCOMPARE(ParseDateTime(QStringLiteral("2026-12-09")), QTime(0, 0));
        for (const char* bad :
             {"abc", "", "25:00", "9:60", "9", "9:5:7 pm", "2026-13-01 9:00", "9.5.7", "９:００",
              "10:", ":30", "10:30:", "2026-12-09x10:00", "2026-12 10:00", "10:30 x", "123:00"}) {
            const QString text = QString::fromUtf8(bad);
            QCOMPARE(conversionText([&] { ParseDateTime(text); }),
                     QStringLiteral("'%1' is not a valid date and time").arg(text));
        }
    }

    // Every box that names a database failure says in Chinese what happened, then the
    // engine's own words; never nothing, never English alone.
    void databaseErrorsAlwaysGiveAReason_data() {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("shown");
        const int statement = QSqlError::StatementError;
        QTest::newRow("both texts")
            << QStringLiteral("no such table: Tcount")
            << QStringLiteral("Unable to execute statement") << "1" << statement
            << QStringLiteral(
                   "数据库里缺少本软件需要的表。（no such "
                   "table: Tcount Unable to execute statement）");
        QTest::newRow("a file that cannot be opened")
            << QStringLiteral("unable to open database file")
            << QStringLiteral("Error opening database") << "14" << int(QSqlError::ConnectionError)
            << QStringLiteral(
                   "数据库文件不存在，或者没有读写它的权限。（unable to open database file "
                   "Error opening database）");
        QTest::newRow("SQLite's extended busy code")
            << QStringLiteral("database is locked") << QString() << "517" << statement
            << QStringLiteral(
                   "数据库正被别的程序或别的前台占用，请稍后再试。（database is locked）");
        QTest::newRow("read-only") << QStringLiteral("attempt to write a readonly database")
                                   << QString() << "8" << statement
                                   << QStringLiteral(
                                          "数据库是只读的，不能写入。（attempt to write a "
                                          "readonly database）");
        QTest::newRow("the server's lock timeout, its line end trimmed")
            << QStringLiteral("ERROR:  lock timeout\n") << QString() << "55P03" << statement
            << QStringLiteral(
                   "数据库正被别的程序或别的前台占用，请稍后再试。（ERROR:  lock timeout）");
        QTest::newRow("the server not there")
            << QStringLiteral("could not connect to server: Connection refused") << QString() << ""
            << int(QSqlError::ConnectionError)
            << QStringLiteral(
                   "数据库连接不上。（could not connect to server: Connection refused）");
        QTest::newRow("a wrong password")
            << QStringLiteral("password authentication failed for user \"cafe\"") << QString()
            << "28P01" << int(QSqlError::ConnectionError)
            << QStringLiteral(
                   "数据库服务器不接受这个用户名或密码。（password authentication failed "
                   "for user \"cafe\"）");
        QTest::newRow("nothing said")
            << QString() << QString() << "" << statement << QStringLiteral("数据库出错。");
        QTest::newRow("only blanks") << QStringLiteral(" ") << QStringLiteral("\n") << ""
                                     << statement << QStringLiteral("数据库出错。");
    }
    void databaseErrorsAlwaysGiveAReason() {
        QFETCH(QString, database);
        QFETCH(QString, driver);
        QFETCH(QString, code);
        QFETCH(int, type);
        QFETCH(QString, shown);
        QCOMPARE(DatabaseErrorText(QSqlError(driver, database, QSqlError::ErrorType(type), code)),
                 shown);
    }

    // The engines' own codes, as they really come: a file that cannot be opened.
    void aRealOpenFailureIsToldInChinese() {
        FILE_ONLY();
        StoreEnv env;
        QVERIFY(!SwitchConnection(*env.module, env.path(QStringLiteral("no-folder/count.db"))));
        QVERIFY2(env.module->LastError().contains(
                     QStringLiteral("数据库文件不存在，或者没有读写它的权限。")),
                 qPrintable(env.module->LastError()));
    }

    void schemaDefaultsAndCaseInsensitiveNames() {
        StoreEnv env;
        env.addMachine(QStringLiteral("PC1"));
        QCOMPARE(env.field(QStringLiteral("PC1"), QStringLiteral("Cstate")), QStringLiteral("无"));
        QVERIFY(env.isNull(QStringLiteral("PC1"), QStringLiteral("Tstart")));

        // One machine whatever the case: the second insert fails, and look-ups find the row.
        Query* q = env.module->ADOQuery2;
        q->Close();
        q->SetSql(QStringLiteral("insert into Tcount(userName) values(:p1)"));
        q->SetParam(QStringLiteral("p1"), QStringLiteral("pc1"));
        QVERIFY(!q->ExecSQL());
        QVERIFY(!q->LastError().isEmpty());
        q->SetSql(QStringLiteral("select * from Tcount where username=:p1"));
        q->SetParam(QStringLiteral("p1"), QStringLiteral("pc1"));
        QVERIFY(q->Open());
        QCOMPARE(q->RecordCount(), 1);
        QCOMPARE(q->FieldText(QStringLiteral("USERNAME")), QStringLiteral("PC1"));
        QCOMPARE(q->FieldText(QStringLiteral("Tstart")), QString());  // null reads as empty
        QCOMPARE(q->FieldText(QStringLiteral("cstate")), QStringLiteral("无"));

        q->Close();
        q->SetSql(QStringLiteral("select * From Tmoney"));
        QVERIFY(q->Open());
        QCOMPARE(q->RecordCount(), 1);
        QCOMPARE(q->FieldText(QStringLiteral("Onetime")), QStringLiteral("2"));
        QCOMPARE(q->FieldText(QStringLiteral("Tnight")), QStringLiteral("10"));
    }

    void parametersKeepHostileTextAndEmptyIsNotNull() {
        StoreEnv env;
        const QString names[] = {
            QStringLiteral("o'brien"), QStringLiteral("100%"), QStringLiteral("x\" or \"1\"=\"1"),
            QStringLiteral("a'); drop table Tcount; --"), QStringLiteral("192.168.0.12")};
        Query* q = env.module->ADOQuery2;
        for (const QString& name : names) {
            q->Close();
            q->SetSql(QStringLiteral("insert into Tcount(userName) values(:p1)"));
            q->SetParam(QStringLiteral("p1"), name);
            QVERIFY(q->ExecSQL());
        }
        QCOMPARE(env.count(), 5);
        for (const QString& name : names) {
            q->SetSql(QStringLiteral("select username from Tcount where username=:p1"));
            q->SetParam(QStringLiteral("p1"), name);
            QVERIFY(q->Open());
            QCOMPARE(q->RecordCount(), 1);
            QCOMPARE(q->FieldText(QStringLiteral("username")), name);
        }
        q->SetSql(QStringLiteral("update Tcount set gotime=:g where username=:p1"));
        q->SetParam(QStringLiteral("g"), QString());
        q->SetParam(QStringLiteral("p1"), names[0]);
        QVERIFY(q->ExecSQL());
        QVERIFY(!env.isNull(names[0], QStringLiteral("gotime")));
        QCOMPARE(env.field(names[0], QStringLiteral("gotime")), QString());
    }

    void wholeRowReadSurvivesASchemaChange_data() {
        QTest::addColumn<bool>("elsewhere");
        QTest::addColumn<QString>("before");
        QTest::newRow("on this connection") << false << QStringLiteral("select * from Tcount");
        QTest::newRow("by another program") << true << QStringLiteral("select * from Tcount");
        QTest::newRow("another program, after a column list")
            << true << QString::fromLatin1(TDataModule1::GridStatement);
    }
    void wholeRowReadSurvivesASchemaChange() {
        QFETCH(bool, elsewhere);
        QFETCH(QString, before);
        StoreEnv env;
        env.addMachine(QStringLiteral("pc1"));
        Query* q = env.module->ADOQuery2;
        q->SetSql(before);
        QVERIFY(q->Open());
        QCOMPARE(q->columnCount(), 9);
        // Another tool adds a column while the console runs.
        const QString alter = QStringLiteral("alter table Tcount add column note text default 'x'");
        elsewhere ? env.otherTool(alter) : env.sql(alter);
        q->SetSql(QStringLiteral("select * from Tcount"));
        for (int i = 0; i < 3; ++i) {
            QVERIFY(q->Open());
            QCOMPARE(q->columnCount(), 10);
            QCOMPARE(q->FieldText(QStringLiteral("note")), QStringLiteral("x"));
        }
    }

    void defaultFileIsCreatedOnlyWhenAbsent() {
        FILE_ONLY();
        StoreEnv env;
        QVERIFY(QFile::exists(env.dbPath()));
        env.addMachine(QStringLiteral("kept"));
        // A second module on the same folder finds the file and does not recreate it.
        TDataModule1 again;
        QVERIFY(again.Connected());
        QCOMPARE(env.count(), 1);
    }

    void firstRunCancelled() {
        FILE_ONLY();
        StoreEnv env;
        auto fresh = QSettingsStore::forFile(env.path(QStringLiteral("fresh.ini")));
        env.addMachine(QStringLiteral("default-row"));
        ConnectDatabase(*env.module, *fresh, env.prompts, env.chooser);
        QCOMPARE(
            env.prompts.take(),
            QStringList{QStringLiteral("message|因为您是第一次运行，请您先选择数据库的位置！")});
        QCOMPARE(env.chooser.calls, 1);
        QVERIFY(!fresh->keyExists());
        QCOMPARE(env.module->ConnectionString(), QStringLiteral("count.db"));
        QVERIFY(env.module->Connected());
    }

    void firstRunChosen() {
        FILE_ONLY();
        StoreEnv env;
        const QString other = env.path(QStringLiteral("other.db"));
        QVERIFY(TDataModule1::CreateDatabaseFile(other));
        auto fresh = QSettingsStore::forFile(env.path(QStringLiteral("fresh.ini")));
        env.chooser.answer = other;
        ConnectDatabase(*env.module, *fresh, env.prompts, env.chooser);
        QCOMPARE(env.prompts.boxes.size(), 1);
        QVERIFY(fresh->keyExists());
        QCOMPARE(fresh->readDatapath(), other);
        QCOMPARE(env.module->ConnectionString(), other);
        QVERIFY(env.module->ADOQuery1->Active());
    }

    // A name that is not there yet is where the new database goes.
    void firstRunMakesANewDatabase() {
        FILE_ONLY();
        StoreEnv env;
        auto fresh = QSettingsStore::forFile(env.path(QStringLiteral("fresh.ini")));
        const QString made = env.path(QStringLiteral("new.db"));
        env.chooser.answer = made;
        ConnectDatabase(*env.module, *fresh, env.prompts, env.chooser);
        QCOMPARE(env.prompts.boxes.size(), 1);
        QCOMPARE(fresh->readDatapath(), made);
        QCOMPARE(env.module->ConnectionString(), made);
        QVERIFY(env.module->ADOQuery1->Active());
        QCOMPARE(env.module->ADOQuery1->RecordCount(), 0);
        const QStringList tables = QSqlDatabase::database(env.module->connectionName()).tables();
        QVERIFY(tables.contains(QStringLiteral("Tcount")) &&
                tables.contains(QStringLiteral("Tmoney")));
    }

    void firstRunNewDatabaseThatCannotBeMade() {
        FILE_ONLY();
        StoreEnv env;
        auto fresh = QSettingsStore::forFile(env.path(QStringLiteral("fresh.ini")));
        const QString nowhere = env.path(QStringLiteral("no-such-folder/new.db"));
        env.chooser.answer = nowhere;
        bool thrown = false;
        try {
            ConnectDatabase(*env.module, *fresh, env.prompts, env.chooser);
        } catch (const UnhandledError& e) {
            thrown = true;
            QVERIFY(e.text().startsWith(QStringLiteral("无法在")));
            QVERIFY(e.text().contains(QDir::toNativeSeparators(nowhere)));
        }
        QVERIFY(thrown);
        QVERIFY(!QFile::exists(nowhere));
        QVERIFY(!fresh->keyExists());  // asked again at the next start
    }

    void firstRunChosenFileNotADatabase() {
        FILE_ONLY();
        StoreEnv env;
        auto fresh = QSettingsStore::forFile(env.path(QStringLiteral("fresh.ini")));
        const QString notes = env.path(QStringLiteral("notes.db"));
        QFile file(notes);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("just some text, not a database at all");
        file.close();
        env.chooser.answer = notes;
        QVERIFY_THROWS_EXCEPTION(UnhandledError,
                                 ConnectDatabase(*env.module, *fresh, env.prompts, env.chooser));
        QVERIFY(!env.module->Connected());
        QCOMPARE(fresh->readDatapath(), notes);  // the choice is stored as the dialog gave it
    }

    void storedPathWithBlanks() {
        FILE_ONLY();
        StoreEnv env;
        const QString other = env.path(QStringLiteral("other.db"));
        QVERIFY(TDataModule1::CreateDatabaseFile(other));
        env.settings->writeDatapath(QStringLiteral("  ") + other + QStringLiteral(" "));
        ConnectDatabase(*env.module, *env.settings, env.prompts, env.chooser);
        QCOMPARE(env.module->ConnectionString(), other);
        QVERIFY(env.module->Connected());
        QCOMPARE(env.settings->readDatapath(), QStringLiteral("  ") + other + QStringLiteral(" "));
        QCOMPARE(env.prompts.boxes, QStringList());
        QCOMPARE(env.chooser.calls, 0);
    }

    void storedPathUnusableFallsBackToDefault_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QByteArray>("content");  // empty: no file at all
        QTest::newRow("missing file") << QStringLiteral("gone.db") << QByteArray();
        QTest::newRow("not a database")
            << QStringLiteral("notes.db") << QByteArray("just some text, not a database at all");
        QTest::newRow("empty value") << QString() << QByteArray();
    }

    void storedPathUnusableFallsBackToDefault() {
        FILE_ONLY();
        QFETCH(QString, stored);
        QFETCH(QByteArray, content);
        StoreEnv env;
        env.addMachine(QStringLiteral("from-default"));
        const QString path = stored.isEmpty() ? QString() : env.path(stored);
        if (!content.isEmpty()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        env.settings->writeDatapath(path);
        QVERIFY(env.settings->keyExists());
        ConnectDatabase(*env.module, *env.settings, env.prompts, env.chooser);
        QCOMPARE(env.module->ConnectionString(), QStringLiteral("count.db"));
        QVERIFY(env.module->Connected());
        QCOMPARE(env.prompts.boxes, QStringList());
        if (content.isEmpty() && !path.isEmpty()) QVERIFY(!QFile::exists(path));
        QCOMPARE(env.count(), 1);
    }

    void fileWithoutOurTablesIsRefused() {
        FILE_ONLY();
        StoreEnv env;
        const QString foreign = env.path(QStringLiteral("foreign.db"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "foreign");
            db.setDatabaseName(foreign);
            QVERIFY(db.open());
            QSqlQuery(db).exec(QStringLiteral("create table other (x text)"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
        QVERIFY(!SwitchConnection(*env.module, foreign));
        QVERIFY(env.module->LastError().contains(QStringLiteral("Tcount")));
    }

    void fallbackFailureIsReported() {
        FILE_ONLY();
        StoreEnv env;
        env.settings->writeDatapath(env.path(QStringLiteral("gone.db")));
        env.module->Disconnect();
        QFile::remove(env.dbPath());
        QFile f(env.dbPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("garbage that is not sqlite, long enough to be read as a header.......");
        f.close();
        QString reported;
        try {
            ConnectDatabase(*env.module, *env.settings, env.prompts, env.chooser);
        } catch (const UnhandledError& e) {
            reported = e.text();
        }
        QVERIFY(reported.contains(QStringLiteral("count.db")));
        QVERIFY(!env.module->Connected());
    }

    void noStrayDefaultFileWhenTheSettingNamesAnother() {
        FILE_ONLY();
        QTemporaryDir start;
        const QString before = QDir::currentPath();
        QDir::setCurrent(start.path());
        const QString other = start.filePath(QStringLiteral("shop/cafe.db"));
        QDir().mkpath(start.filePath(QStringLiteral("shop")));
        QVERIFY(TDataModule1::CreateDatabaseFile(other));
        auto settings = QSettingsStore::forFile(start.filePath(QStringLiteral("s.ini")));
        settings->writeDatapath(other);
        RecordingPrompts prompts;
        FakeChooser chooser;
        {
            TDataModule1 module(nullptr, TDataModule1::DefaultFile::OnlyIfPresent);
            QVERIFY(!module.Connected());
            ConnectDatabase(module, *settings, prompts, chooser);
            QVERIFY(module.Connected());
            QCOMPARE(module.ConnectionString(), other);
            QVERIFY(!QFileInfo::exists(start.filePath(QStringLiteral("count.db"))));

            // The named file gone: the usual fallback makes the default after all.
            settings->writeDatapath(start.filePath(QStringLiteral("gone.db")));
            ConnectDatabase(module, *settings, prompts, chooser);
            QCOMPARE(module.ConnectionString(), QStringLiteral("count.db"));
            QVERIFY(QFileInfo::exists(start.filePath(QStringLiteral("count.db"))));
        }
        QDir::setCurrent(before);
    }

    void aStartFolderThatCannotHoldTheDefaultIsAClearError_data() {
        QTest::addColumn<bool>("firstRun");
        QTest::newRow("first run, dialog cancelled") << true;
        QTest::newRow("setting names a missing file") << false;
    }
    void aStartFolderThatCannotHoldTheDefaultIsAClearError() {
        FILE_ONLY();
        QFETCH(bool, firstRun);
        QTemporaryDir start;
        const QString before = QDir::currentPath();
        QDir::setCurrent(start.path());
        QVERIFY(QDir().mkdir(start.filePath(QStringLiteral("count.db"))));  // cannot be made
        auto settings = QSettingsStore::forFile(start.filePath(QStringLiteral("s.ini")));
        if (!firstRun) settings->writeDatapath(start.filePath(QStringLiteral("gone.db")));
        RecordingPrompts prompts;
        FakeChooser chooser;
        {
            TDataModule1 module(nullptr, TDataModule1::DefaultFile::OnlyIfPresent);
            QString text;
            try {
                ConnectDatabase(module, *settings, prompts, chooser);
            } catch (const NoDatabaseError& e) {
                text = e.text();
            }
            QVERIFY2(text.startsWith(QStringLiteral("无法在文件夹")), qPrintable(text));
            QVERIFY(text.contains(QStringLiteral("--database")));
            QVERIFY(!module.Connected());
        }
        QDir::setCurrent(before);
    }

    void aRefusedSettingWriteIsReported() {
        FILE_ONLY();
        StoreEnv env;
        QFile blocker(env.path(QStringLiteral("not-a-folder")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString chosen = env.path(QStringLiteral("chosen.db"));
        QVERIFY(TDataModule1::CreateDatabaseFile(chosen));
        env.chooser.answer = chosen;
        {  // nowhere to keep it: said so, and used for this start
            auto settings = QSettingsStore::forFile(env.path(QStringLiteral("not-a-folder/s.ini")));
            ConnectDatabase(*env.module, *settings, env.prompts, env.chooser);
            const QStringList boxes = env.prompts.take();
            QCOMPARE(boxes.size(), 2);
            QVERIFY(boxes[1].contains(QStringLiteral("下次启动时还会再问")));
            QCOMPARE(env.module->ConnectionString(), chosen);
        }
        {  // the machine-wide store refuses, the user's takes it: asked no more
            auto settings = QSettingsStore::forFiles(env.path(QStringLiteral("not-a-folder/s.ini")),
                                                     env.path(QStringLiteral("user.ini")));
            ConnectDatabase(*env.module, *settings, env.prompts, env.chooser);
            const QStringList boxes = env.prompts.take();
            QCOMPARE(boxes.size(), 2);
            QVERIFY(boxes[1].contains(QStringLiteral("user.ini")));
            QVERIFY(settings->keyExists());
            QCOMPARE(settings->readDatapath(), chosen);
            ConnectDatabase(*env.module, *settings, env.prompts, env.chooser);
            QCOMPARE(env.prompts.take(), QStringList());  // not the first run any more
        }
    }

    void connectionTextNamesTheEngine_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("described");
        QTest::newRow("file") << QStringLiteral("count.db") << QStringLiteral("QSQLITE")
                              << QDir::current().absoluteFilePath(QStringLiteral("count.db")) +
                                     QStringLiteral("（本机文件）");
        QTest::newRow("uri")
            << QStringLiteral("postgresql://cafe@192.168.0.2:5433/shop?sslmode=require")
            << QStringLiteral("QPSQL")
            << QStringLiteral("cafe@192.168.0.2:5433/shop（服务器，多台前台共用）");
        QTest::newRow("short scheme")
            << QStringLiteral("postgres://desk@server/cafe") << QStringLiteral("QPSQL")
            << QStringLiteral("desk@server:5432/cafe（服务器，多台前台共用）");
        QTest::newRow("key=value")
            << QStringLiteral("host=10.0.0.5 dbname=cafe user=desk password='a b'")
            << QStringLiteral("QPSQL")
            << QStringLiteral("desk@10.0.0.5:5432/cafe（服务器，多台前台共用）");
        QTest::newRow("a file named like a server")
            << QStringLiteral("postgresql.db") << QStringLiteral("QSQLITE")
            << QDir::current().absoluteFilePath(QStringLiteral("postgresql.db")) +
                   QStringLiteral("（本机文件）");
    }
    void connectionTextNamesTheEngine() {
        QFETCH(QString, text);
        QFETCH(QString, driver);
        QFETCH(QString, described);
        const auto engine = Engine::For(text);
        QCOMPARE(engine->DriverName(), driver);
        QCOMPARE(engine->Describe(text), described);
    }

    void anUnreachableServerIsNamedBeforeTheFallback() {
        FILE_ONLY();  // the fallback is the local default file
        StoreEnv env;
        env.settings->writeDatapath(QStringLiteral("postgresql://cafe@127.0.0.1:1/shop"));
        ConnectDatabase(*env.module, *env.settings, env.prompts, env.chooser);
        const QStringList boxes = env.prompts.take();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].contains(QStringLiteral("cafe@127.0.0.1:1/shop")), qPrintable(boxes[0]));
        QVERIFY(boxes[0].contains(QStringLiteral("改用本机的 count.db")));
        QCOMPARE(env.module->ConnectionString(), QStringLiteral("count.db"));
        QVERIFY(env.module->Connected());
    }

    void theServerGetsTheTablesAndTheCaseRule() {
        if (!TestEngine::Postgres()) QSKIP("the server's own behaviour: PostgreSQL only");
        StoreEnv env;  // an empty database: the console made the tables
        QVERIFY(!env.module->engine().IsFile());
        QVERIFY(env.module->SchemaError().isEmpty());
        for (const char* name : {"pc2", "PC10", "Ä-pc", "a1"})
            env.addMachine(QString::fromUtf8(name));
        QCOMPARE(env.field(QStringLiteral("pc2"), QStringLiteral("Cstate")), QStringLiteral("无"));
        Query* q = env.module->ADOQuery2;
        q->SetSql(QStringLiteral("insert into Tcount(userName) values(:p1)"));
        for (const char* twin : {"PC2", "ä-PC"}) {
            q->SetParam(QStringLiteral("p1"), QString::fromUtf8(twin));
            QVERIFY2(!q->ExecSQL(), twin);  // the same machine in another case
        }
        q->SetSql(QString::fromLatin1(TDataModule1::GridStatement));
        QVERIFY(q->Open());
        QStringList order;
        for (q->First(); !q->Eof(); q->Next()) order << q->FieldText(QStringLiteral("username"));
        // Without regard to case: PC10 between a1 and pc2, not before every lower-case name.
        QCOMPARE(order.indexOf(QStringLiteral("a1")) + 1, order.indexOf(QStringLiteral("PC10")));
        QCOMPARE(order.indexOf(QStringLiteral("PC10")) + 1, order.indexOf(QStringLiteral("pc2")));
        QCOMPARE(q->FieldText(0, QStringLiteral("Cstate")), QStringLiteral("无"));

        // An existing database is used as it is: the second desk makes nothing.
        TDataModule1 second;
        QVERIFY(SwitchConnection(second, env.connectionText()));
        QCOMPARE(env.count(), 4);
    }

    // A desk on the café's network talks to its server over TLS, checking the certificate and
    // the address it was made for (the test server's CA and its certificate for 127.0.0.1).
    void tlsToTheServer_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("connects");
        QTest::newRow("the address in the certificate") << QStringLiteral("127.0.0.1") << true;
        QTest::newRow("another name for it") << QStringLiteral("localhost") << false;
    }
    void tlsToTheServer() {
        QFETCH(QString, host);
        QFETCH(bool, connects);
        if (!TestEngine::Postgres()) QSKIP("a server's own behaviour: PostgreSQL only");
        const QString ca = qEnvironmentVariable("CAFE_TEST_POSTGRES_CA");
        QVERIFY2(!ca.isEmpty(), "CAFE_TEST_POSTGRES_CA: the test server's CA, which "
                                "scripts/pg-test-server.sh makes");
        StoreEnv env;
        QUrl url(env.connectionText());
        url.setHost(host);
        url.setQuery(QStringLiteral("sslmode=verify-full&sslrootcert=") + ca);
        TDataModule1 module(nullptr, TDataModule1::DefaultFile::OnlyIfPresent);
        QCOMPARE(SwitchConnection(module, url.toString()), connects);
        if (!connects) return;
        Query* q = module.ADOQuery2;
        q->SetSql(QStringLiteral("select ssl, version from pg_stat_ssl where pid=pg_backend_pid()"));
        QVERIFY(q->Open());
        QCOMPARE(q->FieldText(QStringLiteral("ssl")), QStringLiteral("true"));
        QVERIFY(q->FieldText(QStringLiteral("version")).startsWith(QStringLiteral("TLS")));
    }

    void readOnlyFileFailsStatementsNotConnection() {
        FILE_ONLY();
        StoreEnv env;
        const QString other = env.path(QStringLiteral("ro.db"));
        QVERIFY(TDataModule1::CreateDatabaseFile(other));
        QVERIFY(SwitchConnection(*env.module, other));
        Query* q = env.module->ADOQuery2;
        q->SetSql(QStringLiteral("pragma query_only=1"));
        QVERIFY(q->ExecSQL());
        q->SetSql(QStringLiteral("insert into Tcount(userName) values(:p1)"));
        q->SetParam(QStringLiteral("p1"), QStringLiteral("x"));
        QVERIFY(!q->ExecSQL());
        q->SetSql(QStringLiteral("select * from Tcount"));
        QVERIFY(q->Open());
        QCOMPARE(q->RecordCount(), 0);
    }
};

int runRecordStoreTest(int argc, char** argv) {
    RecordStoreTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_record_store.moc"
