#include "mainwindow.h"

// Handlers whose operations on the unit are not in the program yet.

void MainWindow::on_input_currentIndexChanged(int) {}
void MainWindow::on_type_currentIndexChanged(int) {}
void MainWindow::on_set_rele_released() {}
void MainWindow::on_start_released() {}
void MainWindow::on_prog_released() {}
void MainWindow::_time_out() {}
void MainWindow::on_output_currentIndexChanged(int) {}
void MainWindow::on_a_time_valueChanged(int) {}
void MainWindow::on_a_period_valueChanged(int) {}
void MainWindow::on_reset_rele_released() {}
