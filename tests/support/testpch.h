#pragma once

// What nearly every test and fixture includes, parsed once for all of them:
// the test library (which brings the whole of QtCore), the widgets, SQL and
// network classes, OpenCV's core and drawing, and the standard library's
// containers and threads. A test still includes what it uses; this only
// saves the compiler from reading the same headers a hundred times.

#include <QtTest>
#include <QtWidgets>
#include <QtSql>
#include <QtNetwork>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
