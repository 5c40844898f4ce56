#pragma once

#include <QDialog>

#include <memory>

class QSpinBox;

namespace Ui {
class camera_glue;
}

// The recipe: expected glue dots per camera (rows 0..3) and image (columns 0..2), 0..10.
// Cameras 3 and 4 sit below the visible area; their values pass through unchanged.
class camera_glue : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kCameras = 4;
    static constexpr int kImages = 3;

    explicit camera_glue(QWidget *parent = nullptr);
    ~camera_glue() override;

signals:
    void sendMsgToDialogSetup(int ptr[][3]);

public slots:
    void recMsgFromDialogSetup(int ptr[][3]);

private slots:
    void on_pushButton_take_released();

private:
    std::unique_ptr<Ui::camera_glue> ui;
    QSpinBox *m_spin[kCameras][kImages];
};
