#pragma once

// Tells the operator that the chosen port cannot be opened (a modal box with no parent).
// Kept apart so that the rest of the link needs no widgets.
void showPortOpenFailure();
