#include "browserpane.h"

#include <QUrl>

BrowserPane::BrowserPane(QWidget* parent) : QWebEngineView(parent) {}

void BrowserPane::Navigate(const QString& address) {
    m_LastAddress = address;
    m_History.append(address);
    // The address is already complete and encoded; StrictMode keeps it as given.
    load(QUrl(address, QUrl::StrictMode));
}
