#include "linepoller.h"
