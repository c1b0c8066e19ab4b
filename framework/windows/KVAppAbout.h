// KVAppAbout: the about window with the program's title, version, system, the
// maker's support links and the application component's about lines.
#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;

namespace palvex {

class TLinkLabel;

class TKVFormAbout : public QDialog {
    Q_OBJECT
public:
    explicit TKVFormAbout(QWidget* parent = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label14 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label11 = nullptr;
    TLinkLabel* Label12 = nullptr;
    TLinkLabel* Label13 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QLabel* Label6 = nullptr;
    TLinkLabel* Label3 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QWidget* Shape1 = nullptr;

public slots:
    void HomePage();
    void SupportPage();
    void SupportEmail();

protected:
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void FormMouseDown();
};

} // namespace palvex
