// The conversion stage of a run: makes the spool directory current, and unless a PDF is
// already waiting there, turns the spooled JPEGs into "VellumTransit.pdf".
#pragma once

// The file that waits for delivery, relative to the spool directory.
extern const char kOutputFileName[];

// What the run does after the conversion stage.
enum ConversionOutcome {
    CONVERSION_DELIVER = 0, // go on with delivery
    CONVERSION_END_RUN = 1, // nothing to deliver: the empty listing, or no page could be made
};

// Runs the conversion stage and reports every file on the console.
ConversionOutcome RunConversionStage();
