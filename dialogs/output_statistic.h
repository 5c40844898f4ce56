#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class output_statistic;
}

// Read-only view of the production statistics of cameras 1 and 2 (GBK files).
class output_statistic : public QDialog
{
    Q_OBJECT

public:
    explicit output_statistic(QWidget *parent = nullptr);
    ~output_statistic() override;

public slots:
    void recMsgFromDialogSetup();

private:
    std::unique_ptr<Ui::output_statistic> ui;
};
