// The delivery stage of a run: finds the attached e-reader, copies the waiting PDF into its
// documents folder (never over a file already there), removes the drive safely and deletes the
// local PDF. Without an e-reader the PDF keeps waiting in the spool directory for a later run.
#pragma once

// Runs the delivery stage and reports it on the console.
void RunDeliveryStage();
