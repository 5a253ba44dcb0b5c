# Loading shared by the ingest notebooks: each data source of the step is loaded by
# `vordak load` under its contract (SOURCE_CONTRACTS, from the engine's table). Every row
# is checked; rejected rows go to REJECTED_DIR; the load is compared with the previous
# one; a failed check that blocks leaves the table's rows in place and fails the step.
# What each load found goes to the step's report (REPORT_PATH) for the engine.
import json

from vordak import run


def load_sources(directories):
    """Loads the step's sources from `directories`: one directory per source when there
    are as many, else every source from all of them."""
    contracts = json.loads(SOURCE_CONTRACTS)
    if not contracts:
        raise ValueError("SOURCE_CONTRACTS boş: bu adımın veri sözleşmesi verilmedi")
    # From the command line the flag arrives as text or as 0/1.
    force = str(FORCE_RELOAD).strip().lower() in ("1", "true", "yes", "evet", "e")
    for index, contract in enumerate(contracts):
        arguments = ["load", "--db", DB_PATH, "--contract", json.dumps(contract, ensure_ascii=False)]
        for directory in [directories[index]] if len(directories) == len(contracts) else directories:
            arguments += ["--dir", directory]
        for check in json.loads(ACCEPTED_CHECKS or "[]"):
            arguments += ["--accept", check]
        if REJECTED_DIR:
            arguments += ["--rejected-dir", REJECTED_DIR]
        if REPORT_PATH:
            arguments += ["--report", REPORT_PATH]
        if force:
            arguments.append("--force")
        print(run(*arguments), end="")
