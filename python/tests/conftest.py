"""The package against the program named by $KALO_RS232C, through its own pytest plugin."""
pytest_plugins = ["kalo_rs232c.pytest_plugin"]
