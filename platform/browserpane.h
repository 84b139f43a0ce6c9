#pragma once

#include <QString>
#include <QUrl>
#include <QWebEngineView>

// An embedded browser pane. Navigate loads in the background and remembers the address
// it was last given, which is what tests read.
class BrowserPane : public QWebEngineView {
    Q_OBJECT
public:
    explicit BrowserPane(QWidget* parent = nullptr);

    void Navigate(const QString& address);
    QString lastAddress() const { return m_LastAddress; }
    QStringList history() const { return m_History; } // every address given, in order

    // The busy cursor over the whole pane, whatever the page under it asks for; the page
    // takes no pointer input meanwhile (keys still reach it).
    void ShowBusy(bool busy);

signals:
    // The page last given to Navigate has loaded, an error page the server sent included.
    void Loaded(const QString& address);
    // The page last given to Navigate could not be loaded at all: the connection was
    // refused, the host was not found, it timed out... reason says which, in words. A page
    // the server sent, an error page included, has loaded; so has one replaced by a newer
    // Navigate.
    void LoadFailed(const QString& address, const QString& reason);

protected:
    void childEvent(QChildEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* m_Busy = nullptr; // a pane of glass over the page, showing the busy cursor
    QString m_LastAddress;
    QUrl m_LastUrl;
    QStringList m_History;
};
