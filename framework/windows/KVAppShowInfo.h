// KVAppShowInfo: the small modal window for one information or error message.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QWidget;

namespace palvex {

class TFormInformation : public QDialog {
    Q_OBJECT
public:
    explicit TFormInformation(QWidget* parent = nullptr);

    // Red window colour and text 933 for an error; navy and text 932 for information.
    void SetMessage(bool isError, const QString& message);
    bool IsError() const { return m_isError; }

    QLabel* Label1 = nullptr;
    QLabel* Label3 = nullptr;
    QWidget* Panel1 = nullptr;
    QPushButton* Button1 = nullptr;

public slots:
    void Button1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool m_isError = false;
};

} // namespace palvex
