// The open-picture dialog: a file-open dialog whose filter lists the picture
// registry's formats and that previews the picture under the cursor, loaded
// as a run would load it (turned upright, colours converted).
#pragma once

#include <QFileDialog>

#include "imageio/PictureLoadOptions.h"

class QLabel;
class QPushButton;

namespace palvex {

class TImage32;

// The registry's open filter in Qt's form: one "Description (*.a *.b)" per entry.
QStringList OpenPictureNameFilters();

class TOpenPictureDialog : public QFileDialog {
    Q_OBJECT
public:
    explicit TOpenPictureDialog(QWidget* parent = nullptr, TPictureLoadOptions loading = {});

    QLabel* PictureLabel = nullptr;   // "Picture:" or " (width x height)"
    QPushButton* PreviewButton = nullptr;
    TImage32* PaintPanel = nullptr;
    QLabel* NoneLabel = nullptr;      // "(None)" over an empty panel

public slots:
    // Loads the file into the preview; any failure leaves the preview empty.
    void DoSelectionChange(const QString& path);
    void PreviewClick();

private:
    QString m_shown;
    TPictureLoadOptions m_loading;
};

} // namespace palvex
