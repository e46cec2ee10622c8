#include "monitorservice.h"
