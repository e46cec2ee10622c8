#include "monitorconfig.h"
