// TFormProgress: the small frameless window that shows how far a batch run has
// come, a bar and three lines; created once at start and reused by every run.
#pragma once

#include <QWidget>

#include "job/BatchRun.h"

class QLabel;
class QProgressBar;

namespace palvex {

class TFormProgress : public QWidget, public IProgressView {
    Q_OBJECT
public:
    explicit TFormProgress(QWidget* parent = nullptr);

    void Show() override;
    void Hide() override;
    void SetBar(int32_t percent) override;
    void SetLine(int32_t line, const std::string& text) override;

    QLabel* Label3 = nullptr;       // the product name
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* Label2 = nullptr;       // the file counter
    QLabel* Label4 = nullptr;       // the source
    QLabel* Label5 = nullptr;       // the target
    QLabel* Label1 = nullptr;       // "Wait, please..."

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
};

} // namespace palvex
