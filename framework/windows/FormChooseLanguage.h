// The first-run language chooser: two entries with their pictures and OK; no Cancel.
#pragma once

#include <QDialog>

class QLabel;
class QListWidget;
class QPushButton;

namespace palvex {

class TFormChooseLanguage : public QDialog {
    Q_OBJECT
public:
    explicit TFormChooseLanguage(QWidget* parent = nullptr);

    QLabel* Label3 = nullptr;
    QListWidget* ListView1 = nullptr;
    QPushButton* Button1 = nullptr;

public slots:
    // Takes the selected entry (none keeps the current language), saves it and closes.
    void Button1Click();
    void ListView1DblClick();
    // Escape and closing from the window manager ask nothing: the choice must be made with OK.
    void reject() override {}

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
};

} // namespace palvex
