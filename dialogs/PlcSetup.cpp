#include "PlcSetup.h"

PlcSetup::PlcSetup(QWidget *parent)
    : QDialog(parent)
{
}
