#include "Dialogin.h"

Dialogin::Dialogin(QWidget *parent)
    : QDialog(parent)
{
}
