#include "mqttbridge.h"
