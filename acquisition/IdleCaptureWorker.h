#pragma once

#include "CaptureWorker.h"

// Keeps an opened position's thread alive without grabbing, until the vendor's own
// capture worker takes its place.
class IdleCaptureWorker : public CaptureWorker
{
    Q_OBJECT
public:
    using CaptureWorker::CaptureWorker;

public slots:
    void process() override;
};
