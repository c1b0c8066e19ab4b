// KVLibApp: the application component that sits on the main window. It carries
// the framework's per-program settings, runs the framework's start-up (the
// interface language) and opens the about and message windows.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include "platform/MakerName.h"

class QWidget;

namespace palvex {

class TKVApplication : public QObject {
    Q_OBJECT
public:
    // Sets the owner window's caption to the application title.
    explicit TKVApplication(QWidget* owner);

    QString RegistryNode = QString::fromUtf8(kProductName);
    QString WebPage;
    bool ShowPhones = false;
    bool ShowAddress = false;
    QStringList AboutLines;

    QWidget* Owner() const { return m_owner; }

    // Takes RegistryNode as the settings node, loads the stored language or asks for one
    // with the language chooser, then refreshes the texts. A stored text that is not a
    // number raises EConvertError "'%s' is not a valid integer value".
    void StartUp();
    // The framework's texts for the current language and the owner's caption.
    void RefreshTexts();

    void ShowAbout();
    void ShowError(const QString& message);
    void ShowInformation(const QString& message);

private:
    void ShowMessage(bool isError, const QString& message);

    QWidget* m_owner;
};

} // namespace palvex
