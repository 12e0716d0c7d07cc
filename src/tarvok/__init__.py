"""Tarvok generative modelling: LLM-driven model and data generation for the Tarvok language."""

__version__ = "0.1.0"
