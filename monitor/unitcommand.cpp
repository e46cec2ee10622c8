#include "unitcommand.h"
