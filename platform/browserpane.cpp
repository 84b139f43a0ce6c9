#include "browserpane.h"

#include <QChildEvent>
#include <QWebEngineLoadingInfo>

namespace {
// Chromium's network error codes for the failures a user can act on.
QString describe(const QWebEngineLoadingInfo& info) {
    switch (info.errorCode()) {
    case -102: // ERR_CONNECTION_REFUSED
        return QStringLiteral("the connection was refused.");
    case -105: // ERR_NAME_NOT_RESOLVED
    case -137: // ERR_NAME_RESOLUTION_FAILED
        return QStringLiteral("the host \"%1\" was not found.").arg(info.url().host());
    case -7:   // ERR_TIMED_OUT
    case -118: // ERR_CONNECTION_TIMED_OUT
        return QStringLiteral("the server did not answer in time.");
    default:
        return info.errorString().isEmpty()
                   ? QStringLiteral("error %1.").arg(info.errorCode())
                   : QStringLiteral("%1 (error %2).").arg(info.errorString()).arg(info.errorCode());
    }
}
} // namespace

BrowserPane::BrowserPane(QWidget* parent) : QWebEngineView(parent) {
    connect(page(), &QWebEnginePage::loadingChanged, this,
            [this](const QWebEngineLoadingInfo& info) {
                constexpr int kAborted = -3; // ERR_ABORTED: a newer load took its place
                if (info.url() != m_LastUrl ||
                    info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
                    return;
                // A page the server sent with an error status has loaded all the same.
                if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus ||
                    info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain)
                    emit Loaded(m_LastAddress);
                else if (info.errorCode() != kAborted)
                    emit LoadFailed(m_LastAddress, describe(info));
            });
}

void BrowserPane::ShowBusy(bool busy) {
    if (!m_Busy) {
        m_Busy = new QWidget(this);
        m_Busy->setCursor(Qt::BusyCursor);
        m_Busy->setGeometry(rect());
    }
    m_Busy->raise();
    m_Busy->setVisible(busy);
}

void BrowserPane::childEvent(QChildEvent* event) {
    QWebEngineView::childEvent(event);
    // The engine adds the widget that draws the page as it needs one: keep the glass on top.
    if (event->added() && m_Busy)
        m_Busy->raise();
}

void BrowserPane::resizeEvent(QResizeEvent* event) {
    QWebEngineView::resizeEvent(event);
    if (m_Busy)
        m_Busy->setGeometry(rect());
}

void BrowserPane::Navigate(const QString& address) {
    m_LastAddress = address;
    m_History.append(address);
    // The address is already complete and encoded; StrictMode keeps it as given.
    m_LastUrl = QUrl(address, QUrl::StrictMode);
    load(m_LastUrl);
}
