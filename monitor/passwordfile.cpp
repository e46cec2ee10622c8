#include "passwordfile.h"
