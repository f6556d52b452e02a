#pragma once

#include <dcmtk/dcmnet/scppool.h>
#include <dcmtk/dcmnet/scpthrd.h>

#include <QString>

class FindChannel;
class FindDispatcher;

// Serves one association on a pool thread. C-ECHO is answered by the toolkit;
// every C-FIND goes through the dispatcher to the worklist handler, and its
// matches are sent the moment the handler pushes them. This is the only place
// that meets the toolkit's network callbacks.
class WorklistScpWorker : public DcmBaseSCPPool::DcmBaseSCPWorker, private DcmThreadSCP {
public:
    WorklistScpWorker(DcmBaseSCPPool& pool, FindDispatcher& dispatcher);

    OFCondition setSharedConfig(const DcmSharedSCPConfig& config) override;
    OFBool busy() override;

protected:
    OFCondition workerListen(T_ASC_Association* const assoc) override;
    OFCondition handleIncomingCommand(T_DIMSE_Message* message,
                                      const DcmPresentationContextInfo& info) override;

private:
    OFCondition AnswerFind(T_DIMSE_C_FindRQ& request, T_ASC_PresentationContextID presentation);
    OFCondition Stream(FindChannel& channel, T_DIMSE_C_FindRQ& request,
                       T_ASC_PresentationContextID presentation, const OFString& sopClass);
    OFCondition SendStatus(T_DIMSE_C_FindRQ& request, T_ASC_PresentationContextID presentation,
                           const OFString& sopClass, Uint16 status, const QString& comment);
    bool CancelRequested(T_DIMSE_C_FindRQ& request, T_ASC_PresentationContextID presentation);

    OFCondition Released(OFCondition status);
    void Hold(bool hold);

    FindDispatcher& m_dispatcher;
    T_ASC_Association* m_association = nullptr;
    bool m_holding = false;
};

// The pool of association workers; it creates workers that know the dispatcher.
class WorklistScpPool : public DcmBaseSCPPool {
public:
    explicit WorklistScpPool(FindDispatcher& dispatcher) : m_dispatcher(dispatcher) {}

protected:
    DcmBaseSCPWorker* createSCPWorker() override {
        return new WorklistScpWorker(*this, m_dispatcher);
    }

private:
    FindDispatcher& m_dispatcher;
};
