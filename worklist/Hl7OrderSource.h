#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "platform/dicom/QueryConnection.h"
#include "worklist/OrderFile.h"
#include "worklist/OrderFileCache.h"
#include "worklist/RequestedAttributes.h"
#include "worklist/WorklistServices.h"

// Answers a worklist query from the folder of HL7 order files: one item per
// "*.HL7" file whose patient ID, name and accession number fit the query.
// Files are only read, never moved, so every query sees every order again.
class Hl7OrderSource {
public:
    using Yield = std::function<void()>;

    // The yield runs after every file, so the window and other queries stay
    // responsive while a large folder is read.
    Hl7OrderSource(WorklistServices& services, Yield yield);

    // Sends one pending match per matching file; the caller sends the final
    // status. Returns false when it stopped early because the query was
    // abandoned.
    bool Run(QueryConnection& connection, const DicomDataset& request);

    // Writes the folder's order files to a listing (the path of each) and
    // their first lines to the activity log. A file that cannot be read ends
    // the listing with a message.
    void ListHL7Folder(const std::function<void(const QString&)>& appendToListing,
                       const std::function<void(const QString&)>& showMessage);

    // The folder text with a trailing separator.
    static QString FolderOf(const QString& folderText);

private:
    // The query's patient ID, name and accession number, read once per run.
    struct OrderFilter {
        std::optional<QString> patientId;
        std::optional<QString> patientName;
        std::optional<QString> accession;
        bool Accepts(const OrderFields& order) const;
    };

    void Send(QueryConnection& connection, const OrderItem& order, const OrderItem::Asked& asked);
    void NoteRevalidation();

    WorklistServices& m_services;
    RequestedAttributes m_requested;
    Yield m_yield;
    OrderFileCache m_cache;
    QString m_revalidation;  // last logged
};
