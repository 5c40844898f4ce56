#include "AlarmDialog.h"

AlarmDialog::AlarmDialog(QWidget *parent)
    : QDialog(parent)
{
}
