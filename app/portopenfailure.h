#pragma once

// Tells the operator that the chosen port cannot be opened: a modal box with no parent,
// shown by the search right after it created the worker (cComPort::openFailed()).
void showPortOpenFailure();
