# Not needed once the package is installed (pip install python/): its entry point loads it.
pytest_plugins = ["kalo_rs232c.pytest_plugin"]
