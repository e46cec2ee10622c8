#include "systemdlink.h"
