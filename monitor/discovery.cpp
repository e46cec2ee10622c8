#include "discovery.h"
