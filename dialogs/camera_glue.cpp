#include "camera_glue.h"

#include "ui_camera_glue.h"

camera_glue::camera_glue(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::camera_glue>())
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setFixedSize(size());
    QSpinBox *spins[kCameras][kImages] = {
        {ui->spinBox_11, ui->spinBox_12, ui->spinBox_13},
        {ui->spinBox_21, ui->spinBox_22, ui->spinBox_23},
        {ui->spinBox_31, ui->spinBox_32, ui->spinBox_33},
        {ui->spinBox_41, ui->spinBox_42, ui->spinBox_43},
    };
    for (int c = 0; c < kCameras; ++c)
        for (int i = 0; i < kImages; ++i)
            m_spin[c][i] = spins[c][i];
}

camera_glue::~camera_glue() = default;

void camera_glue::recMsgFromDialogSetup(int ptr[][3])
{
    for (int c = 0; c < kCameras; ++c)
        for (int i = 0; i < kImages; ++i)
            m_spin[c][i]->setValue(ptr[c][i]);   // the spin box clamps to 0..10
}

void camera_glue::on_pushButton_take_released()
{
    int values[kCameras][kImages];
    for (int c = 0; c < kCameras; ++c)
        for (int i = 0; i < kImages; ++i)
            values[c][i] = m_spin[c][i]->value();
    emit sendMsgToDialogSetup(values);
    close();
}
