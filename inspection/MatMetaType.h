#pragma once

#include <QMetaType>

#include <opencv2/core/mat.hpp>

// Images travel in queued signals between the workers and the window.
Q_DECLARE_METATYPE(cv::Mat)
