"""A SQL Server simulator speaking TDS 7.4, for testing ODBC clients."""
