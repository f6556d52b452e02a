"""A modality's Modality Performed Procedure Step messages, sent with
pynetdicom's N-CREATE and N-SET, for the end-to-end tests.

    python3 mpps_client.py PLAN.json

The plan names the server and the messages; each message goes on an
association of its own unless the plan says "one_association". What came
back is printed as one JSON list, one entry per message:
{"status": 0, "error_comment": "...", "error_id": 42768, "attribute_ids": [...],
 "attributes": {"PerformedProcedureStepStatus": "COMPLETED"}, "instance_uid": "..."},
or {"refused": "association rejected"} when no association came about.

Plan:
{"host": "127.0.0.1", "port": 11112, "calling": "CT01", "called": "TALVEK",
 "tls": {"ca": "ca.pem", "cert": "client.pem", "key": "client.key"},
 "one_association": false,
 "messages": [
   {"op": "create", "uid": "1.2.3", "status": "IN PROGRESS",
    "accessions": ["A1"], "items": [{"RequestedProcedureID": "R1"}],
    "set": {"PatientName": "DOE^JANE"}},
   {"op": "set", "uid": "1.2.3", "status": "COMPLETED", "set": {...}}]}

"items" overrides the values of each Scheduled Step Attributes item (one
item per accession number); "set" overrides top-level attributes by keyword;
a value of null removes the attribute.
"""

import json
import ssl
import sys

from pydicom import config
from pydicom.dataset import Dataset
from pynetdicom import AE
from pynetdicom.sop_class import ModalityPerformedProcedureStep

TIMEOUT = 30
# The tests send values no modality should: they must reach the server as given.
config.settings.writing_validation_mode = config.IGNORE


def apply(dataset, values):
    for keyword, value in values.items():
        if value is None:
            if keyword in dataset:
                delattr(dataset, keyword)
        elif isinstance(value, list) and value and isinstance(value[0], dict):
            items = []
            for entry in value:
                item = Dataset()
                apply(item, entry)
                items.append(item)
            setattr(dataset, keyword, items)
        else:
            setattr(dataset, keyword, value)


def scheduled_item(accession, index):
    item = Dataset()
    item.StudyInstanceUID = "1.2.826.0.1.3680043.10.1.%d" % (index + 1)
    item.ReferencedStudySequence = []
    item.AccessionNumber = accession
    item.RequestedProcedureID = "RP-%s" % accession
    item.RequestedProcedureDescription = "CHEST"
    item.ScheduledProcedureStepID = "SPS-%s" % accession
    item.ScheduledProcedureStepDescription = "CHEST PA"
    item.ScheduledProtocolCodeSequence = []
    return item


def creation(message):
    ds = Dataset()
    ds.SpecificCharacterSet = "ISO_IR 100"
    items = [scheduled_item(a, i) for i, a in enumerate(message.get("accessions", []))]
    for item, values in zip(items, message.get("items", [])):
        apply(item, values)
    ds.ScheduledStepAttributesSequence = items
    ds.PatientName = "DOE^JANE"
    ds.PatientID = "P1"
    ds.PatientBirthDate = "19700101"
    ds.PatientSex = "F"
    ds.ReferencedPatientSequence = []
    ds.PerformedProcedureStepID = "PPS-1"
    ds.PerformedStationAETitle = "CT01"
    ds.PerformedStationName = "CT ROOM 1"
    ds.PerformedLocation = "RADIOLOGY"
    ds.PerformedProcedureStepStartDate = "20261203"
    ds.PerformedProcedureStepStartTime = "091500"
    ds.PerformedProcedureStepStatus = message.get("status", "IN PROGRESS")
    ds.PerformedProcedureStepDescription = "CHEST PA"
    ds.PerformedProcedureTypeDescription = ""
    ds.ProcedureCodeSequence = []
    ds.PerformedProcedureStepEndDate = None
    ds.PerformedProcedureStepEndTime = None
    ds.Modality = "CT"
    ds.StudyID = "1"
    ds.PerformedProtocolCodeSequence = []
    ds.PerformedSeriesSequence = []
    apply(ds, message.get("set", {}))
    return ds


def modification(message):
    ds = Dataset()
    if "status" in message:
        ds.PerformedProcedureStepStatus = message["status"]
        if message["status"] in ("COMPLETED", "DISCONTINUED"):
            ds.PerformedProcedureStepEndDate = "20261203"
            ds.PerformedProcedureStepEndTime = "093000"
            series = Dataset()
            series.PerformingPhysicianName = ""
            series.ProtocolName = "CHEST"
            series.OperatorsName = ""
            series.SeriesInstanceUID = "1.2.826.0.1.3680043.10.2.1"
            series.SeriesDescription = ""
            series.RetrieveAETitle = ""
            series.ReferencedImageSequence = []
            series.ReferencedNonImageCompositeSOPInstanceSequence = []
            ds.PerformedSeriesSequence = [series]
    apply(ds, message.get("set", {}))
    return ds


def outcome(status, attributes, uid):
    if status is None or "Status" not in status:
        return {"refused": "no response"}
    result = {"status": int(status.Status), "instance_uid": uid}
    if "ErrorComment" in status:
        result["error_comment"] = str(status.ErrorComment)
    if "ErrorID" in status:
        result["error_id"] = int(status.ErrorID)
    if "AttributeIdentifierList" in status:
        tags = status.AttributeIdentifierList
        tags = tags if isinstance(tags, list) or hasattr(tags, "__iter__") else [tags]
        result["attribute_ids"] = ["%08X" % int(t) for t in tags]
    if attributes is not None:
        result["attributes"] = {e.keyword: str(e.value) for e in attributes if e.keyword}
    return result


def associate(plan):
    ae = AE(ae_title=plan.get("calling", "MODALITY"))
    ae.acse_timeout = ae.dimse_timeout = ae.network_timeout = TIMEOUT
    ae.add_requested_context(ModalityPerformedProcedureStep)
    tls_args = None
    if "tls" in plan:
        context = ssl.create_default_context(ssl.Purpose.SERVER_AUTH, cafile=plan["tls"]["ca"])
        context.check_hostname = False
        context.load_cert_chain(plan["tls"]["cert"], plan["tls"]["key"])
        tls_args = (context, None)
    return ae.associate(plan.get("host", "127.0.0.1"), plan["port"],
                        ae_title=plan.get("called", "TALVEK"), tls_args=tls_args)


def send(assoc, message):
    uid = message.get("uid")
    if message["op"] == "create":
        status, attributes = assoc.send_n_create(creation(message),
                                                 ModalityPerformedProcedureStep, uid)
    else:
        status, attributes = assoc.send_n_set(modification(message),
                                              ModalityPerformedProcedureStep, uid)
    return outcome(status, attributes, uid)


def main():
    with open(sys.argv[1], encoding="utf-8") as file:
        plan = json.load(file)
    results = []
    assoc = None
    for message in plan["messages"]:
        if assoc is None or not assoc.is_established:
            assoc = associate(plan)
        if not assoc.is_established:
            results.append({"refused": "association rejected"})
            assoc = None
            continue
        results.append(send(assoc, message))
        if not plan.get("one_association"):
            assoc.release()
            assoc = None
    if assoc is not None and assoc.is_established:
        assoc.release()
    print(json.dumps(results))


if __name__ == "__main__":
    main()
