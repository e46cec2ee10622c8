// Re-reads the unit after its case was opened and closed: the boards may have changed
// type, and a unit found by asking its address may answer at another one. The same
// sequence as the search (unit::findUnit), at the line's speed as it is.

#include "mainwindow.h"
#include "statuslooks.h"
#include "ui_mainwindow.h"
#include "unitsearch.h"
#include "workflowtexts.h"

void MainWindow::reloadUnit()
{
    const int generation = workers.generation();
    handlerBusy = 1;
    stopPoll();
    if (connectionEnded(generation))
        return;
    ui->input->clear();
    ui->output->clear();
    ui->output->addItem(workflow::noRelayText);
    showStatus(LookIdle);
    ui->version->setText(QString());

    // The unit may have taken another address; only a search that asked for it (address 0
    // given) asks again. On a line with several units every one answers address 0 and the
    // replies collide: the address given stays the unit's.
    unit::SearchPlan plan;
    plan.address = unitAddress;
    plan.askAddress = addressAsked;
    plan.readAssignment = true;
    unit::SearchHooks hooks = connectionHooks(generation);
    int mask = 0;
    hooks.afterStep = [&](unit::FoundUnit &found) {
        return showReloadStep(found, generation, mask);
    };
    const unit::FoundUnit found = unit::findUnit(*port, plan, hooks);
    if (found.outcome == unit::SearchOutcome::StepFailed) {
        handlerBusy = 0;
        linkFailed();
        return;
    }
    if (found.outcome != unit::SearchOutcome::Found)
        return;
    enableControls(mask);
    startPoll();
    handlerBusy = 0;
}

// Shows a step of the re-read that went through; false ends it (no input board left: the
// connection ends after the message).
bool MainWindow::showReloadStep(unit::FoundUnit &found, int generation, int &mask)
{
    switch (found.step) {
    case unit::SearchStep::Boards:
        mask = listBoards(found.boardMap);
        interfaceMask = mask;
        return true;
    case unit::SearchStep::Address:
        unitAddress = found.address;
        ui->addr->setValue(unitAddress);
        return true;
    case unit::SearchStep::Version:
        showVersion(found.versionMajor, found.versionMinor);
        if (ui->input->count() == 0) {
            criticalMessage(workflow::noInputBoardsText);
            if (!connectionEnded(generation))
                linkFailed();
            return false;
        }
        found.assignmentBoard = selectedInputBoard();
        return true;
    case unit::SearchStep::Assignment:
        showInputBoardState(found.assignmentBoard, found.assignment);
        return true;
    }
    return true;
}
