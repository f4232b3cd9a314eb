// A reprint is a new document: the same pages printed twice make byte-identical PDFs, and each
// reaches the e-reader. Only the copy that a run began of this very PDF, on this e-reader (its
// sending note says which), counts as an earlier delivery.
#include "tests/support/runs.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

const std::string kNote = std::string(kSpool) + "\\VellumTransit.pdf.sending";
const std::string kMedia = "[media Scribe]\nfriendly_name = Kindle Scribe\ndescription = Kindle "
                           "Scribe\nstorages = Internal Storage\n";

// A drive e-reader and a media one, each with its documents folder on the host, and the lines
// a delivery of one PDF prints on it.
struct Route {
    const char *what;
    std::string ini, documents, copied, already;
};
const Route kRoutes[] = {
    {"drive", DriveEreader(), "E/documents",
     "E:\\Output copied to Kindle!\nGet drive type...\nE:\\ - Removable\r\nMedia in Drive E "
     "has been ejected safely.\n",
     "E:\\Output already on Kindle!\nGet drive type...\nE:\\ - Removable\r\nMedia in Drive E "
     "has been ejected safely.\n"},
    {"media", kMedia, "media/Scribe/Internal Storage/documents",
     "Kindle Scribe: Output copied to Kindle!\nKindle Scribe can be unplugged.\n",
     "Kindle Scribe: Output already on Kindle!\nKindle Scribe can be unplugged.\n"},
};

class Reprint : public MachineTest {
  protected:
    void Prepare(const Route &route) {
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
        Load(route.ini);
        std::filesystem::create_directories(folder + "/" + route.documents);
    }
    void Spool() {
        for (int page = 1; page <= 2; ++page)
            WriteFile(JobPagePath(page), JobPage(page));
    }
    // The run's lines after its conversion lines.
    std::string Delivery() {
        std::string transcript = RunProgram();
        size_t written = transcript.find("Written PDF ");
        return written == std::string::npos ? transcript
                                            : transcript.substr(transcript.find('\n', written) + 1);
    }
};

// Printed twice, with the e-reader attached each time: two documents of the same bytes.
TEST_F(Reprint, TheSamePagesPrintedTwiceAreTwoDocuments) {
    for (const Route &route : kRoutes) {
        SCOPED_TRACE(route.what);
        Prepare(route);
        Spool();
        EXPECT_EQ(Delivery(), route.copied);
        if (std::string(route.what) == "drive") // ejected: plugged in again for the reprint
            Load(route.ini);
        Spool();
        EXPECT_EQ(Delivery(), route.copied);
        std::map<std::string, std::string> device = HostFiles(folder + "/" + route.documents);
        ASSERT_EQ(device.size(), 2u);
        EXPECT_EQ(device["VellumTransit.pdf"], device["VellumTransit (2).pdf"]);
        EXPECT_TRUE(List(kSpool).empty());
    }
}

// A PDF whose delete is refused waits beside its note: the next run finds its copy and says so.
// A note left by a run killed after the PDF was deleted names another PDF: a reprint with the
// same bytes is sent anew, and the document the note names stays.
TEST_F(Reprint, OnlyTheNotedCopyOfThisPdfIsItsDelivery) {
    for (const Route &route : kRoutes) {
        SCOPED_TRACE(route.what);
        Prepare(route);
        Spool();
        for (int nth = 1; nth <= 400; ++nth)
            simwin::SetFault("DeleteFileA", nth, "32");
        EXPECT_EQ(Delivery(), route.copied);
        EXPECT_EQ(List(kSpool).size(), 5u); // two pages, their record, the PDF and its note
        ASSERT_TRUE(Exists(kNote));
        std::string note = ReadFile(kNote);
        Load(route.ini);
        EXPECT_EQ(Delivery(), route.already);
        EXPECT_TRUE(List(kSpool).empty());

        Load(route.ini);
        WriteFile(kNote, note); // as a kill between the PDF's delete and the note's leaves it
        Spool();
        EXPECT_EQ(Delivery(), route.copied);
        std::map<std::string, std::string> device = HostFiles(folder + "/" + route.documents);
        EXPECT_EQ(device.size(), 2u);
        EXPECT_EQ(device["VellumTransit.pdf"], device["VellumTransit (2).pdf"]);
        EXPECT_TRUE(List(kSpool).empty());
    }
}

// A name taken between the survey and the rename: the copy goes under the next free name, and the
// note follows it, so that a run killed before the PDF's delete is still known to have delivered.
TEST_F(Reprint, TheNoteFollowsTheCopyToTheNextFreeName) {
    const Route &drive = kRoutes[0];
    Prepare(drive);
    Spool();
    simwin::SetFault("MoveFileExA", 3, "80"); // the PDF's rename, the record's, then the copy's
    // Killed at the PDF's delete: after the pages' two, the record's, and the old note's.
    ASSERT_TRUE(RunKilledAt(folder, "DeleteFileA", 5, "crash"));
    ASSERT_TRUE(Exists(std::string(kSpool) + "\\VellumTransit.pdf"))
        << ReadHostFile(folder + "/events.log");
    EXPECT_EQ(Delivery(), drive.already);
    std::map<std::string, std::string> device = HostFiles(folder + "/" + drive.documents);
    ASSERT_EQ(device.size(), 1u);
    EXPECT_EQ(device.begin()->first, "VellumTransit (2).pdf");
}

// The copy that a note of this e-reader names, cut short (smaller than the PDF it was made
// from), is removed before anything is sent; while it cannot be, nothing is sent and the note
// stays, so that the next run removes it.
TEST_F(Reprint, ACutCopyGoesBeforeAnythingIsSent) {
    const Route &media = kRoutes[1];
    Prepare(media);
    Spool();
    const std::string cut = folder + "/" + media.documents + "/VellumTransit.pdf";
    std::ofstream(cut, std::ios::binary) << "%PDF-1.3 cut";
    WriteFile(kNote, "VellumTransit.pdf\npdf 100000 5\ndevice "
                     "\\\\?\\simwin#media#Scribe#{6ac27878-a6fa-4155-ba85-f98f491d4f33}\n");
    simwin::SetFault("IPortableDeviceContent::Delete", 1, "0x80070005");
    EXPECT_EQ(Delivery(), "Kindle Scribe: Could not copy the PDF (error 0x80004005).\nKindle "
                          "must be plugged in!\n");
    EXPECT_TRUE(Exists(kNote));
    EXPECT_EQ(HostFiles(folder + "/" + media.documents).size(), 1u);
    Load(media.ini);
    EXPECT_EQ(RunProgram(), media.copied);
    std::map<std::string, std::string> device = HostFiles(folder + "/" + media.documents);
    ASSERT_EQ(device.size(), 1u);
    EXPECT_TRUE(IsWholePdf(device["VellumTransit.pdf"]));
    EXPECT_TRUE(List(kSpool).empty());
}

// A copy cut short on one e-reader stays noted while the PDF goes to another: when the first
// is seen again, with another PDF waiting, the cut copy is removed and the new one sent.
TEST_F(Reprint, ACutCopyStaysNotedWhileAnotherEreaderIsServed) {
    const Route &drive = kRoutes[0], &media = kRoutes[1];
    Prepare(media);
    std::filesystem::create_directories(folder + "/" + drive.documents);
    Spool();
    const std::string cut = folder + "/" + media.documents + "/VellumTransit.pdf";
    std::ofstream(cut, std::ios::binary) << "%PDF-1.3 cut";
    const std::string scribe = "\\\\?\\simwin#media#Scribe#{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
    WriteFile(kNote, "VellumTransit.pdf\npdf 100000 5\ndevice " + scribe + "\n");
    Load(drive.ini); // the media e-reader is away: the PDF goes to the drive
    EXPECT_EQ(Delivery(), drive.copied);
    EXPECT_EQ(List(kSpool), std::vector<std::string>{"VellumTransit.pdf.sending"});
    EXPECT_EQ(ReadFile(kNote), "VellumTransit.pdf\npdf 100000 5\ndevice " + scribe + "\n");
    Spool();
    Load(media.ini);
    EXPECT_EQ(Delivery(), media.copied);
    std::map<std::string, std::string> device = HostFiles(folder + "/" + media.documents);
    ASSERT_EQ(device.size(), 1u);
    EXPECT_TRUE(IsWholePdf(device["VellumTransit.pdf"]));
    EXPECT_TRUE(List(kSpool).empty());
}

// On a drive e-reader too: the copy that a stopped run began of another document (its partial
// file, which that document's own survey would remove) goes when the drive is next seen.
TEST_F(Reprint, ADriveCopyCutShortGoesWhateverPdfWaits) {
    const Route &drive = kRoutes[0];
    Prepare(drive);
    Spool();
    const std::string cut = folder + "/" + drive.documents + "/Minutes.pdf.partial";
    std::ofstream(cut, std::ios::binary) << "%PDF-1.3 cut";
    WriteFile(kNote, "Minutes.pdf\npdf 100000 5\ndevice E:\\\n");
    EXPECT_EQ(Delivery(), drive.copied);
    std::map<std::string, std::string> device = HostFiles(folder + "/" + drive.documents);
    ASSERT_EQ(device.size(), 1u);
    EXPECT_TRUE(IsWholePdf(device["VellumTransit.pdf"]));
    EXPECT_TRUE(List(kSpool).empty());
}

} // namespace
