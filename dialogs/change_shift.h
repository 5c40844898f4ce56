#pragma once

#include <QDialog>
#include <QTime>

#include <memory>

namespace Ui {
class change_shift;
}

// The three daily shift-change times, handed back to the settings dialog on "应用".
class change_shift : public QDialog
{
    Q_OBJECT

public:
    explicit change_shift(QWidget *parent = nullptr);
    ~change_shift() override;

signals:
    void sendMsgToDialogSetup(QTime timeA, QTime timeB, QTime timeC);

public slots:
    void recMsgFromDialogSetup(QTime timeA, QTime timeB, QTime timeC);

private slots:
    void on_pushButton_released();

private:
    std::unique_ptr<Ui::change_shift> ui;
};
