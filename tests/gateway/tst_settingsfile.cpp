#include "platformerror.h"
#include "settingsfile.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace SettingsFile;

class TestSettingsFile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_Dir;
    QString m_Path;

    QByteArray contents() const {
        QFile f(m_Path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    // What the settings dialog's save does.
    void save(const QString& user, const QString& host, const QString& key) {
        Save(user, host, KeyToStored(key), m_Path);
    }

private slots:
    void init() {
        m_Path = m_Dir.filePath(kFileName);
        QFile::remove(m_Path);
    }

    void noFileReadsEmpty() {
        QCOMPARE(ReadIni(kSection, kUser, m_Path), QString());
        QCOMPARE(ReadIni(kSection, kHost, m_Path), QString());
        QCOMPARE(KeyFromStored(ReadIni(kSection, kKey, m_Path)), QString());
        QVERIFY(!QFile::exists(m_Path));
    }

    void newFileHoldsTheThreeKeysInOrder() {
        save("root", "whm.example.com", "AB12\r\nCD34\r\nEF56");
        QCOMPARE(contents(),
                 QByteArray("[settings]\nuser=root\nhost=whm.example.com\nkey=AB12*CD34*EF56\n"));
        QCOMPARE(ReadIni(kSection, kUser, m_Path), QStringLiteral("root"));
        QCOMPARE(ReadIni(kSection, kHost, m_Path), QStringLiteral("whm.example.com"));
        QCOMPARE(KeyFromStored(ReadIni(kSection, kKey, m_Path)),
                 QStringLiteral("AB12\r\nCD34\r\nEF56"));
    }

    // The three values go in with one replacement of the file: at no moment does it hold
    // some values of this save and some of the last.
    void savingAgainReplacesValues() {
        save("a", "b", "c");
        const int events = inotify_init1(IN_NONBLOCK);
        QVERIFY(events >= 0);
        const auto closing = qScopeGuard([events] { close(events); });
        // Renames away from the temporary files too: the kernel merges like events in a row.
        QVERIFY(inotify_add_watch(events, QFile::encodeName(m_Dir.path()).constData(),
                                  IN_MOVED_FROM | IN_MOVED_TO) >= 0);
        save("", "h2", "x\r\ny");
        alignas(inotify_event) char buffer[4096];
        int replaced = 0;
        for (ssize_t n; (n = read(events, buffer, sizeof buffer)) > 0;) {
            for (char* p = buffer; p < buffer + n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(p);
                replaced += (e->mask & IN_MOVED_TO) && kFileName == QFile::decodeName(e->name);
                p += sizeof(inotify_event) + e->len;
            }
        }
        QCOMPARE(replaced, 1);
        QCOMPARE(contents(), QByteArray("[settings]\nuser=\nhost=h2\nkey=x*y\n"));
        QCOMPARE(ReadIni(kSection, kUser, m_Path), QString());
    }

    void keyTransform_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("three lines") << "l1\r\nl2\r\nl3"
                                     << "l1*l2*l3"
                                     << "l1\r\nl2\r\nl3";
        QTest::newRow("typed star becomes a line break") << "a*b"
                                                         << "a*b"
                                                         << "a\r\nb";
        QTest::newRow("LF breaks") << "l1\nl2\n"
                                   << "l1*l2*"
                                   << "l1\r\nl2\r\n";
        QTest::newRow("lone CR") << "a\rb"
                                 << "a*b"
                                 << "a\r\nb";
        QTest::newRow("LF CR is two breaks") << "a\n\rb"
                                             << "a**b"
                                             << "a\r\n\r\nb";
        QTest::newRow("no break") << "abc"
                                  << "abc"
                                  << "abc";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
    }
    void keyTransform() {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QFETCH(QString, readBack);
        QCOMPARE(KeyToStored(typed), stored);
        WriteIni(kSection, kKey, KeyToStored(typed), m_Path);
        QCOMPARE(ReadIni(kSection, kKey, m_Path), stored);
        QCOMPARE(KeyFromStored(ReadIni(kSection, kKey, m_Path)), readBack);
    }

    void longValuesReadBackCut() {
        QString value;
        for (int i = 0; i < 3000; ++i)
            value += QChar(u'a' + i % 26);
        WriteIni(kSection, kKey, value, m_Path);
        QCOMPARE(ReadIni(kSection, kKey, m_Path), value.left(2554));

        WriteIni(kSection, kKey, value.left(2554), m_Path);
        QCOMPARE(ReadIni(kSection, kKey, m_Path), value.left(2554));
        WriteIni(kSection, kKey, value.left(2555), m_Path);
        QCOMPARE(ReadIni(kSection, kKey, m_Path).size(), 2554);

        // The cut never leaves half a character behind.
        const QString emoji = QString(2553, QLatin1Char('x')) + QString::fromUtf8("😀😀");
        WriteIni(kSection, kKey, emoji, m_Path);
        QCOMPARE(ReadIni(kSection, kKey, m_Path), QString(2553, QLatin1Char('x')));
    }

    void failedWriteIsReported() {
        QFile blocker(m_Dir.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString path = m_Dir.filePath("blocker/settings.whm");
        QVERIFY_THROWS_EXCEPTION(PlatformError, WriteIni(kSection, kUser, "u", path));
        QCOMPARE(ReadIni(kSection, kUser, path), QString());
    }

    // A disk that fills up during a save (a file size limit in a child process): the save
    // fails and is reported, the file keeps every byte it had (not even the short user name
    // goes in), and no temporary or lock file stays behind.
    void saveFailingHalfwayLeavesTheOldFile() {
        save("old", "h", "k");
        const QByteArray before = contents();
        const pid_t child = fork();
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{512, 512};
            setrlimit(RLIMIT_FSIZE, &limit);
            try {
                Save("new", "h", QString(1000, 'k'), m_Path);
            } catch (const PlatformError&) {
                _exit(0);
            }
            _exit(1);
        }
        int status = -1;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        QCOMPARE(contents(), before);
        QCOMPARE(QDir(m_Dir.path()).entryList({kFileName + "*"}, QDir::Files | QDir::Hidden),
                 QStringList{kFileName});
    }

    // Two running copies saving at once: no single write is lost, and the three values
    // left in the file come from one save.
    void twoCopiesSavingAtOnceKeepEveryValue() {
        constexpr int kRounds = 50;
        const auto saveMany = [this](const QString& copy) {
            for (int i = 0; i < kRounds; ++i) {
                const QString v = copy + QString::number(i);
                Save(v, v, v, m_Path);
                WriteIni(QStringLiteral("log"), v, v, m_Path);
            }
        };
        const pid_t other = fork();
        if (other == 0) {
            saveMany(QStringLiteral("b")); // a failure throws, and the child ends abnormally
            _exit(0);
        }
        saveMany(QStringLiteral("a"));
        int status = -1;
        QCOMPARE(waitpid(other, &status, 0), other);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        for (const QString& copy : {QStringLiteral("a"), QStringLiteral("b")})
            for (int i = 0; i < kRounds; ++i)
                QCOMPARE(ReadIni("log", copy + QString::number(i), m_Path),
                         copy + QString::number(i));
        const QString user = ReadIni(kSection, kUser, m_Path);
        QCOMPARE(ReadIni(kSection, kHost, m_Path), user);
        QCOMPARE(ReadIni(kSection, kKey, m_Path), user);
        QVERIFY(!QFile::exists(m_Path + ".lock"));
    }

    void fileLivesBesideTheExecutableWhenItCan() {
        QTemporaryDir exe;
        QTemporaryDir config;
        QCOMPARE(PathFor(exe.path(), config.path()), QDir(exe.path()).filePath(kFileName));
        // The probe leaves nothing behind.
        QCOMPARE(QDir(exe.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
    }

    // An installed copy keeps the file in the configuration folder even where it could
    // write beside the executable (as root can in /usr/bin), starting from the one there.
    void installedCopyUsesTheConfigFolder() {
        QTemporaryDir exe;
        QTemporaryDir config;
        const QString beside = QDir(exe.path()).filePath(kFileName);
        Save("olduser", "oldhost", "k", beside);
        const QString path = PathFor(exe.path(), config.path(), true);
        QCOMPARE(path, QDir(config.path()).filePath(kFileName));
        QCOMPARE(ReadIni(kSection, kUser, path), QStringLiteral("olduser"));
        Save("new", "newhost", "n", path);
        QCOMPARE(ReadIni(kSection, kUser, beside), QStringLiteral("olduser"));
    }

    void unwritableExecutableFolderFallsBackToConfigFolder() {
        QTemporaryDir base;
        // A folder that cannot exist, because a file holds its parent's name: even root
        // cannot create a file there.
        QFile blocker(QDir(base.path()).filePath("bin"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString exeFolder = QDir(base.path()).filePath("bin/app");
        const QString config = QDir(base.path()).filePath("config/Corvala");
        const QString path = PathFor(exeFolder, config);
        QCOMPARE(path, QDir(config).filePath(kFileName));
        QVERIFY(QFileInfo(config).isDir()); // created, so that the first save can succeed
        WriteIni(kSection, kUser, "u", path);
        QCOMPARE(ReadIni(kSection, kUser, path), QStringLiteral("u"));
    }

    // An installed copy: a writable settings.whm stands in a folder the user cannot write.
    // Its values are copied once into the configuration folder, where saves then go; the
    // file beside the executable stays as it was. The child drops root, which writes
    // anywhere.
    void readOnlyFolderWithAFileMovesToTheConfigFolder() {
        QTemporaryDir base;
        const QString exeFolder = base.filePath("bin");
        const QString home = base.filePath("home");
        const QString config = QDir(home).filePath("Corvala");
        const QString beside = QDir(exeFolder).filePath(kFileName);
        QVERIFY(QDir().mkpath(exeFolder) && QDir().mkpath(home));
        Save("olduser", "oldhost", "k1*k2", beside);
        QCOMPARE(chmod(qPrintable(base.path()), 0755), 0);
        QCOMPARE(chmod(qPrintable(home), 0777), 0);
        QCOMPARE(chmod(qPrintable(beside), 0666), 0);
        QCOMPARE(chmod(qPrintable(exeFolder), 0555), 0);
        const pid_t child = fork();
        if (child == 0) {
            if (geteuid() == 0 && setuid(65534) != 0)
                _exit(2);
            const QString path = PathFor(exeFolder, config);
            if (path != QDir(config).filePath(kFileName))
                _exit(3);
            if (ReadIni(kSection, kKey, path) != "k1*k2" || PathFor(exeFolder, config) != path)
                _exit(4);
            Save("new", "newhost", "n", path); // a failure ends the child abnormally
            _exit(PathFor(exeFolder, config) == path ? 0 : 5);
        }
        int status = -1;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        QCOMPARE(ReadIni(kSection, kUser, QDir(config).filePath(kFileName)), QStringLiteral("new"));
        QCOMPARE(ReadIni(kSection, kUser, beside), QStringLiteral("olduser"));
    }

    void pathUsesTheExecutableFolder() {
        // The test executable's folder is writable, so the file belongs beside it.
        QCOMPARE(QFileInfo(Path()).absolutePath(),
                 QFileInfo(QCoreApplication::applicationDirPath()).absoluteFilePath());
        QCOMPARE(QFileInfo(Path()).fileName(), kFileName);
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
