#include "mainwindow.h"

int handlerBusy = 0;
int interfaceMask = 0;
