"""Statistics and plots for one bench run: load, stats, plots, page (bench/report.py runs them)."""
