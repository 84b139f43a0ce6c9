#include "platformerror.h"
#include "privateprofile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestPrivateProfile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_Dir;
    QString path(const QString& name = QStringLiteral("p.ini")) const {
        return m_Dir.filePath(name);
    }
    void put(const QByteArray& bytes, const QString& name = QStringLiteral("p.ini")) {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray contents(const QString& name = QStringLiteral("p.ini")) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QString get(const QString& section, const QString& key) const {
        return PrivateProfile::GetString(section, key, QStringLiteral("<def>"), path());
    }

private slots:
    void init() { QFile::remove(path()); }

    void readsWithTheProfileRules_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        const QByteArray basic = "[settings]\nuser=alice\nhost=h.example\n";
        QTest::newRow("plain") << basic << "settings"
                               << "host"
                               << "h.example";
        QTest::newRow("section and key case") << basic << "SetTings"
                                              << "USER"
                                              << "alice";
        QTest::newRow("missing key") << basic << "settings"
                                     << "key"
                                     << "<def>";
        QTest::newRow("missing section") << basic << "other"
                                         << "user"
                                         << "<def>";
        QTest::newRow("blanks around key, value, header")
            << QByteArray("  [ settings ]  \n \t user \t=  alice smith \t\n") << "settings"
            << "user"
            << "alice smith";
        QTest::newRow("double quotes") << QByteArray("[s]\nk = \" a b \" \n") << "s"
                                       << "k"
                                       << " a b ";
        QTest::newRow("single quotes") << QByteArray("[s]\nk='x'\n") << "s"
                                       << "k"
                                       << "x";
        QTest::newRow("unmatched quotes kept") << QByteArray("[s]\nk=\"x'\n") << "s"
                                               << "k"
                                               << "\"x'";
        QTest::newRow("lone quote kept") << QByteArray("[s]\nk=\"\n") << "s"
                                         << "k"
                                         << "\"";
        QTest::newRow("empty value") << QByteArray("[s]\nk=\n") << "s"
                                     << "k"
                                     << "";
        QTest::newRow("equals in value") << QByteArray("[s]\nk=a=b==\n") << "s"
                                         << "k"
                                         << "a=b==";
        QTest::newRow("comment line")
            << QByteArray("[s]\n;k=commented\n  ; k=also\nk=real\n") << "s"
            << "k"
            << "real";
        QTest::newRow("only commented") << QByteArray("[s]\n;k=commented\n") << "s"
                                        << "k"
                                        << "<def>";
        QTest::newRow("first duplicate key wins") << QByteArray("[s]\nk=first\nK=second\n") << "s"
                                                  << "k"
                                                  << "first";
        QTest::newRow("first duplicate section wins")
            << QByteArray("[s]\na=1\n[t]\nk=t\n[S]\nk=second\n") << "s"
            << "k"
            << "<def>";
        QTest::newRow("key of another section") << QByteArray("[a]\nk=1\n[b]\nj=2\n") << "b"
                                                << "k"
                                                << "<def>";
        QTest::newRow("key before any section") << QByteArray("k=1\n[s]\n") << "s"
                                                << "k"
                                                << "<def>";
        QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF[s]\nk=v\n") << "s"
                                         << "k"
                                         << "v";
        QTest::newRow("CR LF") << QByteArray("[s]\r\nj=1\r\nk=v\r\n") << "s"
                               << "k"
                               << "v";
        QTest::newRow("CR only") << QByteArray("[s]\rj=1\rk=v\r[t]\rk=w") << "s"
                                 << "k"
                                 << "v";
        QTest::newRow("no final line break") << QByteArray("[s]\nk=v") << "s"
                                             << "k"
                                             << "v";
        QTest::newRow("UTF-8") << QByteArray("[s]\nk=Zoë ünïcode €\n") << "s"
                               << "k" << QString::fromUtf8("Zoë ünïcode €");
        QTest::newRow("not UTF-8 still read") << QByteArray("[s]\nk=caf\xE9\n") << "s"
                                              << "k" << QString::fromUtf8("café");
        QTest::newRow("empty file") << QByteArray() << "s"
                                    << "k"
                                    << "<def>";
    }
    void readsWithTheProfileRules() {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        put(file);
        QCOMPARE(get(section, key), expected);
    }

    void missingFileReadsAsDefault() {
        QCOMPARE(get("s", "k"), QStringLiteral("<def>"));
        QVERIFY(!QFile::exists(path()));
    }

    void writeKeepsOtherLinesAndPlacesNewKeys_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("after");

        const QByteArray file = "; top comment\n[A]\nx = 1 \n; note\n\n[settings]\nuser=old\n"
                                "host = h\n\n\n[B]\ny=2\n";
        QTest::newRow("replace in place, other lines untouched")
            << file << "SETTINGS"
            << "User"
            << QByteArray("; top comment\n[A]\nx = 1 \n; note\n\n[settings]\nUser=NEW\n"
                          "host = h\n\n\n[B]\ny=2\n");
        QTest::newRow("new key at the end of its section, before blank lines")
            << file << "settings"
            << "key"
            << QByteArray("; top comment\n[A]\nx = 1 \n; note\n\n[settings]\nuser=old\n"
                          "host = h\nkey=NEW\n\n\n[B]\ny=2\n");
        QTest::newRow("new key in the last section")
            << file << "b"
            << "z"
            << QByteArray("; top comment\n[A]\nx = 1 \n; note\n\n[settings]\nuser=old\n"
                          "host = h\n\n\n[B]\ny=2\nz=NEW\n");
        QTest::newRow("new section at the end") << file << "C"
                                                << "k" << QByteArray(file + "[C]\nk=NEW\n");
        QTest::newRow("first duplicate key replaced") << QByteArray("[s]\nk=1\nk=2\n") << "s"
                                                      << "k" << QByteArray("[s]\nk=NEW\nk=2\n");
        QTest::newRow("commented key left alone") << QByteArray("[s]\n;k=1\n") << "s"
                                                  << "k" << QByteArray("[s]\n;k=1\nk=NEW\n");
        QTest::newRow("CR LF and byte-order mark kept")
            << QByteArray("\xEF\xBB\xBF[s]\r\na=1\r\n") << "s"
            << "k" << QByteArray("\xEF\xBB\xBF[s]\r\na=1\r\nk=NEW\r\n");
        QTest::newRow("missing final line break added") << QByteArray("[s]\na=1") << "s"
                                                        << "k" << QByteArray("[s]\na=1\nk=NEW\n");
        QTest::newRow("empty section header") << QByteArray("[s]\n[t]\n") << "s"
                                              << "k" << QByteArray("[s]\nk=NEW\n[t]\n");
        // Lines the save does not touch keep their bytes: their own encoding and line break.
        QTest::newRow("single-byte text in other lines kept")
            << QByteArray("; caf\xE9\n[s]\nk=old\nn=Jos\xE9\n") << "s"
            << "k" << QByteArray("; caf\xE9\n[s]\nk=NEW\nn=Jos\xE9\n");
        QTest::newRow("mixed line breaks kept")
            << QByteArray("[s]\r\na=1\nb=2\rc=3\r\n[t]\n") << "s"
            << "k" << QByteArray("[s]\r\na=1\nb=2\rc=3\r\nk=NEW\r\n[t]\n");
        QTest::newRow("last line without a break kept")
            << QByteArray("[s]\nk=old\n[t]\nx=1") << "s"
            << "k" << QByteArray("[s]\nk=NEW\n[t]\nx=1");
    }
    void writeKeepsOtherLinesAndPlacesNewKeys() {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QByteArray, after);
        put(before);
        PrivateProfile::WriteString(section, key, QStringLiteral("NEW"), path());
        QCOMPARE(contents(), after);
        QCOMPARE(PrivateProfile::GetString(section, key, QString(), path()), QStringLiteral("NEW"));
    }

    void writeCreatesTheFile() {
        PrivateProfile::WriteString("settings", "user", "u", path());
        PrivateProfile::WriteString("settings", "host", "h", path());
        PrivateProfile::WriteString("settings", "key", "k", path());
        QCOMPARE(contents(), QByteArray("[settings]\nuser=u\nhost=h\nkey=k\n"));
    }

    // Whatever is written reads back unchanged, even values the reading rules would alter.
    void valuesRoundTrip_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << "abc";
        QTest::newRow("empty") << "";
        QTest::newRow("blanks around") << "  padded\t";
        QTest::newRow("in double quotes") << "\"quoted\"";
        QTest::newRow("in single quotes") << "'q'";
        QTest::newRow("one quote") << "\"";
        QTest::newRow("semicolon and brackets") << ";[x]=y";
        QTest::newRow("stars") << "ab*cd**";
        QTest::newRow("non-ASCII") << QString::fromUtf8("Jürgen 東京 😀");
    }
    void valuesRoundTrip() {
        QFETCH(QString, value);
        PrivateProfile::WriteString("s", "k", value, path());
        QCOMPARE(PrivateProfile::GetString("s", "k", "<def>", path()), value);
    }

    void lineBreakInValueIsRefused_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("CR LF") << "a\r\nb";
        QTest::newRow("LF") << "a\nb";
        QTest::newRow("CR") << "a\rb";
        QTest::newRow("only LF") << "\n";
    }
    void lineBreakInValueIsRefused() {
        QFETCH(QString, value);
        put("[s]\nk=old\n");
        try {
            PrivateProfile::WriteString("s", "k", value, path());
            QFAIL("a value with a line break was written");
        } catch (const PlatformError& e) {
            QVERIFY2(e.description().contains(QFileInfo(path()).fileName()),
                     qPrintable(e.description()));
        }
        QCOMPARE(contents(), QByteArray("[s]\nk=old\n"));
    }

    void newAndExistingFilesAreOwnerOnly() {
        const mode_t old = umask(0); // the most permissive umask must not widen the file
        PrivateProfile::WriteString("s", "k", "secret", path());
        umask(old);
        struct stat st {};
        QCOMPARE(stat(QFile::encodeName(path()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));

        QVERIFY(QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ReadOther));
        PrivateProfile::WriteString("s", "k", "secret2", path());
        QCOMPARE(stat(QFile::encodeName(path()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
    }

    // The new contents arrive by renaming a finished file over the old one: the old file is
    // never opened for writing, and nothing is left behind in the folder.
    void saveReplacesTheFileWhole() {
        QTemporaryDir dir;
        const QString file = dir.filePath("settings.whm");
        PrivateProfile::WriteString("s", "k", "one", file);
        struct stat before {};
        QCOMPARE(stat(QFile::encodeName(file).constData(), &before), 0);
        PrivateProfile::WriteString("s", "k", "two", file);
        struct stat after {};
        QCOMPARE(stat(QFile::encodeName(file).constData(), &after), 0);
        QVERIFY(before.st_ino != after.st_ino);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"settings.whm"});
    }

    void unwritablePlaceIsReported_data() {
        QTest::addColumn<QString>("target");
        // Running as root defeats permission bits, so use places nobody can write.
        QTest::newRow("parent is a file") << "plainfile/settings.whm";
        QTest::newRow("missing folder") << "no/such/folder/settings.whm";
        QTest::newRow("folder in place of the file") << "afolder";
    }
    void unwritablePlaceIsReported() {
        QFETCH(QString, target);
        put("x", "plainfile");
        QVERIFY(QDir(m_Dir.path()).mkpath("afolder"));
        const QString full = path(target);
        try {
            PrivateProfile::WriteString("settings", "user", "u", full);
            QFAIL("a write that cannot succeed reported nothing");
        } catch (const PlatformError& e) {
            QVERIFY2(e.description().contains(QFileInfo(full).absoluteFilePath()),
                     qPrintable(e.description()));
        }
        QCOMPARE(contents("plainfile"), QByteArray("x"));
    }
};

QTEST_GUILESS_MAIN(TestPrivateProfile)
#include "tst_privateprofile.moc"
