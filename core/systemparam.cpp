#include "systemparam.h"

SystemParam* gpSystemParam = nullptr;
SystemParam* gpSystemParamEdit = nullptr;
