#include "DialogSetup.h"

DialogSetup::DialogSetup(QWidget *parent)
    : QDialog(parent)
{
}
