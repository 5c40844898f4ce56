#pragma once

#include <QIntValidator>

// A QIntValidator for ranges from 0 up that refuses a number above the top while it is
// typed: QIntValidator lets it stand as "intermediate" as long as it has no more digits
// than the top, so 65 could be typed into a 0..64 field.
class BoundedIntValidator : public QIntValidator
{
public:
    BoundedIntValidator(int bottom, int top, QObject *parent)
        : QIntValidator(bottom, top, parent)
    {
    }

    State validate(QString &input, int &pos) const override
    {
        const State state = QIntValidator::validate(input, pos);
        if (state != Intermediate || bottom() < 0)
            return state;
        bool isNumber = false;
        const qlonglong value = input.toLongLong(&isNumber);
        return isNumber && value > top() ? Invalid : state;
    }
};
