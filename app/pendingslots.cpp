#include "mainwindow.h"

// Handlers whose operations on the unit are not in the program yet.
