#include "DialogSetupPasswd.h"

DialogSetupPasswd::DialogSetupPasswd(QWidget *parent)
    : QDialog(parent)
{
}
