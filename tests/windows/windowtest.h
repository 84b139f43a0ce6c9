#pragma once

// Shared set-up for the window tests: a gateway on 127.0.0.1, a settings file in a
// temporary folder, and the platform's outside effects switched to recording.

#include "browserpane.h"
#include "browserprocesses.h"
#include "form4.h"
#include "messagebox.h"
#include "programend.h"
#include "settingsfile.h"
#include "systembrowser.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <memory>

namespace WindowTest {

// A gateway answering the version and both lists.
inline void ServeGateway(TestHttpServer& server, const QByteArray& version = "1.7",
                         const QByteArray& clients = "alice<BR>bob<BR>carol",
                         const QByteArray& paks = "basic<BR>gold") {
    server.setBody(QStringLiteral("/version.txt"), version);
    server.setBody(QStringLiteral("/clients.php"), clients);
    server.setBody(QStringLiteral("/paks.php"), paks);
}

inline void WriteSettings(const QString& path, const QString& user, const QString& host,
                          const QString& storedKey) {
    WriteIni(SettingsFile::kSection, SettingsFile::kUser, user, path);
    WriteIni(SettingsFile::kSection, SettingsFile::kHost, host, path);
    WriteIni(SettingsFile::kSection, SettingsFile::kKey, storedKey, path);
}

// The tree's rows as its model gives them to the view.
inline QStringList TreeTexts(const QTreeView* tree) {
    const QAbstractItemModel* model = tree->model();
    QStringList texts;
    for (int i = 0; i < model->rowCount(); ++i) {
        const QModelIndex row = model->index(i, 0);
        texts << row.data().toString();
        if (model->hasChildren(row))
            texts << QStringLiteral("<has children>");
    }
    return texts;
}

inline int RowCount(const QTreeView* tree) {
    return tree->model()->rowCount();
}

inline QStringList ShownTexts(const QList<MessageBox::Shown>& shown) {
    QStringList texts;
    for (const MessageBox::Shown& s : shown)
        texts << s.text;
    return texts;
}

// What each window test starts from and ends with: the platform recording, a gateway on
// 127.0.0.1 answering the version and both lists, and a temporary folder for settings.whm.
class Fixture {
protected:
    std::unique_ptr<TestHttpServer> m_Server;
    std::unique_ptr<QTemporaryDir> m_Dir;

    // For the test's init(); false when the folder could not be made.
    bool SetUp() {
        MessageBox::setScripted(true);
        SystemBrowser::setRecording(true);
        ProgramEnd::setRecording(true);
        m_Server = std::make_unique<TestHttpServer>();
        ServeGateway(*m_Server);
        m_Dir = std::make_unique<QTemporaryDir>();
        return m_Dir->isValid();
    }
    // For the test's cleanup(), once its windows are gone.
    void TearDown() {
        MessageBox::setScripted(true); // drops a hook a test may have left
        m_Server.reset();
        m_Dir.reset();
    }

    QString base() const { return m_Server->baseAddress(); }
    QString settingsPath() const { return m_Dir->filePath(QStringLiteral("settings.whm")); }
};

template <class T> T* Child(QObject* parent, const char* name) {
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    if (!child)
        qFatal("no child %s", name);
    return child;
}

} // namespace WindowTest

// The browser panes need a shared GL context, set before the application exists.
#define CORVALA_WINDOW_TEST_MAIN(TestClass)                                                        \
    int main(int argc, char** argv) {                                                              \
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);                                \
        BrowserProcesses::DrawInSoftware();                                                        \
        QApplication app(argc, argv);                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestClass tc;                                                                              \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
